// The interface and identifiers of the test server (libcomtestserver.so).
// Interfaces implemented in another module are declared once, in a named
// namespace: in an anonymous one the compiler would conclude that nothing
// implements them, and the two modules' type information would not agree.
#ifndef TELVANE_PLATFORM_TESTING_COM_TEST_SERVER_H_
#define TELVANE_PLATFORM_TESTING_COM_TEST_SERVER_H_

#include "platform/com.h"

namespace platform::testing {

inline constexpr CLSID kAdderClsid = {
    0x11112222, 0x3333, 0x4444, {0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88}};
inline constexpr IID kIidAdder = {
    0xAAAABBBB, 0xCCCC, 0xDDDD, {0xEE, 0xEE, 0xFF, 0xFF, 0x00, 0x00, 0x11, 0x11}};

class IAdder : public IUnknown {
 public:
  virtual int Add(int a, int b) = 0;
};

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_COM_TEST_SERVER_H_
