// The member lookup in a service reply from anywhere. Beyond not crashing, the answer
// agrees with a full parse of the same text: invalid JSON gives "", JSON that is not an
// object raises "Invalid class typecast" and nothing else does, and a member that occurs
// once gives its string or its integer as written.
#include <nlohmann/json.hpp>

#include <iterator>

#include "app/JsonStringValue.h"
#include "fuzz/FuzzSupport.h"
#include "platform/base/Exception.h"

namespace {

// The members a reply of the download service carries, and two that no reply has.
const char* const kKeys[] = {"url", "filename", "version", "size", "md5", "error", "", "\xC3\xA9t\xC3\xA9"};

// How many times `key` is a member of the top-level object.
class TopLevelKeyCounter final : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit TopLevelKeyCounter(std::string key) : FKey(std::move(key)) {}
  int Count() const { return FCount; }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return ++FDepth, true; }
  bool start_array(std::size_t) override { return ++FDepth, true; }
  bool end_object() override { return --FDepth, true; }
  bool end_array() override { return --FDepth, true; }
  bool key(string_t& name) override { return FCount += FDepth == 1 && name == FKey, true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  std::string FKey;
  int FDepth = 0;
  int FCount = 0;
};

// What the lookup should answer for a member that occurs once; nullopt when a float,
// whose text as written the full parse does not keep.
std::optional<QString> expectedText(const nlohmann::json& value) {
  if (value.is_string()) return QString::fromStdString(value.get<std::string>());
  if (value.is_number_integer()) return QString::fromStdString(value.dump());
  if (value.is_number_float()) return std::nullopt;
  return QString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString reply = QString::fromUtf8(FuzzBytes(data, size));
  const std::string key = kKeys[FuzzChoice(data, size, std::size(kKeys))];
  const std::string text = reply.toStdString();
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);

  QString answer;
  bool raised = false;
  try {
    answer = GetJsonStringValue(reply, QString::fromStdString(key));
  } catch (const Exception& error) {
    FUZZ_CHECK(error.Message() == QLatin1String("Invalid class typecast"),
               QStringLiteral("unexpected error %1").arg(error.Message()));
    raised = true;
  }
  if (reply.isEmpty() || parsed.is_discarded()) {
    FUZZ_CHECK(!raised && answer.isEmpty(), QStringLiteral("invalid JSON gave an answer"));
    return 0;
  }
  FUZZ_CHECK(raised == !parsed.is_object(), QStringLiteral("raised for an object or not for a non-object"));
  if (raised) return 0;
  TopLevelKeyCounter counter(key);
  nlohmann::json::sax_parse(text, &counter);
  if (counter.Count() == 0) FUZZ_CHECK(answer.isEmpty(), QStringLiteral("an answer for a missing member"));
  if (counter.Count() != 1) return 0;
  const std::optional<QString> expected = expectedText(parsed.at(key));
  if (expected) FUZZ_CHECK(answer == *expected, QStringLiteral("the member's value is not what a full parse gives"));
  return 0;
}
