// Text-level procedures on Telebib2 EDIFACT interchanges that work without the parser:
// tokens with the release character, splitting an interchange per message, header readers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace common {

/// Raised by the procedures below with a fixed English text.
class EEdiError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TEdiDirection : std::uint8_t {
  edUnknown = 0,
  edCyToBroker = 1,
  edCyToCy = 2,
  edCyToUnknown = 3,
  edBrokerToCy = 4,
  edBrokerToBroker = 5,
  edBrokerToUnknown = 6,
};

/// "Unknown", "Cy -> Broker", ...; "Unknown" for a value outside the enumeration.
const char* EdiDirectionName(TEdiDirection d);

/// The next token of S up to Delim; S loses the token and its delimiter. A Release character
/// and the character after it stay in the token and never end it. Empty S gives "".
std::string EdiFetch(std::string& S, char Delim, char Release);
/// The same on a view, which is advanced instead of shortened: linear loops use this one.
std::string_view EdiFetch(std::string_view& S, char Delim, char Release);

/// S with every Release pair replaced by its second character; a trailing Release is dropped.
std::string EdiUnescape(std::string_view S, char Release);

/// S without carriage returns and line feeds.
std::string StripLineBreaks(std::string_view S);

/// Appends one interchange per message to Strings (or Text unchanged when the group header's
/// fourth element is set). Raises EEdiError "Decompose failed (...)"; nothing is appended when
/// the header, XEH or XGT is missing, entries of earlier messages stay when an XET is missing.
void EdiDecompose(std::string_view Text, std::vector<std::string>& Strings);

/// Sender code/sub-code and recipient code/sub-code of the group header, unescaped.
void EdiGetParties(std::string_view Text, std::string& X921, std::string& X922, std::string& X923, std::string& X924);

/// X912 and X916 of the first message header and X925 of the group header, as fetched.
void EdiGetExchangeType(std::string_view Text, std::string& X912, std::string& X916, std::string& X925);

/// Direction from the lengths of the sender and recipient codes; never raises.
TEdiDirection EdiGetDirection(std::string_view Text) noexcept;

}  // namespace common
