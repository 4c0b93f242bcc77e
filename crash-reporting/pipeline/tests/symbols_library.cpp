// A library whose functions the symbolication tests look up by address.
namespace foo {
int bar() {
  volatile int total = 0;
  for (int i = 0; i < 10; ++i) total = total + i;
  return total;
}
}  // namespace foo

extern "C" int plain_c_function() {
  volatile int total = 1;
  for (int i = 0; i < 10; ++i) total = total * 2;
  return total;
}
