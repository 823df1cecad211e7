// Interface of the test component server (libedi_test_server.so).
#pragma once

#include <edicom/EdiCom.h>

namespace testserver {

using namespace edicom;

// {6E0C2B51-1D2A-4C11-9B7E-3A5D2C7E9F01}
constexpr CLSID CLSID_Counter = {0x6E0C2B51, 0x1D2A, 0x4C11, {0x9B, 0x7E, 0x3A, 0x5D, 0x2C, 0x7E, 0x9F, 0x01}};
// {6E0C2B52-1D2A-4C11-9B7E-3A5D2C7E9F01}
constexpr IID IID_ICounter = {0x6E0C2B52, 0x1D2A, 0x4C11, {0x9B, 0x7E, 0x3A, 0x5D, 0x2C, 0x7E, 0x9F, 0x01}};

struct ICounter : IDispatch {
  virtual HRESULT get_Value(std::int32_t* v) = 0;  // 1
  virtual HRESULT put_Value(std::int32_t v) = 0;   // 1
  virtual HRESULT Add(std::int32_t n) = 0;         // 2
  virtual HRESULT Echo(BSTR in, BSTR* out) = 0;    // 3
  virtual HRESULT Fail(BSTR message) = 0;          // 4: fails with E_UNEXPECTED and error info

 protected:
  ~ICounter() = default;
};

}  // namespace testserver

// Objects of the server still alive.
EDICOM_API long TestServerAlive();
