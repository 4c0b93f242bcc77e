// A library the image-list tests open and close.
extern "C" __attribute__((visibility("default"))) int platform_images_loadable_function() { return 7; }
