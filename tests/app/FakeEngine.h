// A stand-in engine document and parser message for the worker tests. The document reports
// findings written into the message text itself:
//   FAKE+E+code+segno+key+text'   an error      FAKE+W+code+segno+key+text'   a warning
//   BOOM'                          Validate fails with error information "engine down"
// Everything it was asked is recorded for the tests to check.
#pragma once

#include <edicom/EdiComServer.h>
#include <kalvix/Kalvix.h>
#include <ruvala/Ruvala.h>

#include <string>
#include <vector>

namespace fake {

struct TFakeFinding {
  std::int32_t SegmentNo;
  std::string Key, Code, Text;
};

struct TFakeLog {
  std::vector<std::string> Validated;  // texts given to Validate, in order
  std::vector<double> Dates;
  std::vector<bool> Filters, InterApps;
  std::string InputStream;
  int Documents = 0;
};

edicom::ComPtr<ruvala::IEdiDocument> NewDocument(TFakeLog* log);
edicom::ComPtr<kalvix::IEdiMessage> NewMessage(TFakeLog* log);
// Class objects of the fake document and message, for the fake component server.
edicom::HRESULT GetClassObject(const edicom::CLSID& clsid, const edicom::IID& iid, void** ppv);

}  // namespace fake
