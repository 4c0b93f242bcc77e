// A library whose functions the symbolication tests look up by address, and in which a
// crashing child dies.
static int gSink = 0;
static volatile int* gTarget = &gSink;

namespace foo {
int bar() {
  volatile int total = 0;
  for (int i = 0; i < 10; ++i) total = total + i;
  *gTarget = total;  // faults once symbols_library_arm_crash() has run
  return total;
}
}  // namespace foo

extern "C" int plain_c_function() {
  volatile int total = 1;
  for (int i = 0; i < 10; ++i) total = total * 2;
  return total;
}

// Makes the next foo::bar() write through a null pointer.
extern "C" void symbols_library_arm_crash() { gTarget = nullptr; }
