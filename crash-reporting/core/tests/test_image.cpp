// A library the image tests open and close: it has a GNU build-id (linked with --build-id)
// and exports the crash-info symbol that the image table looks up.
extern "C" {
__attribute__((visibility("default"))) char cr_crash_info[64] = "test image crash info";

__attribute__((visibility("default"))) int crash_core_test_image_function(int value) { return value * 3 + 1; }
}
