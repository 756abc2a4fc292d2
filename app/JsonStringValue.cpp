#include "app/JsonStringValue.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "platform/base/Exception.h"

namespace {

// Walks the document once without building it, so that replies of any size or depth
// cost no more than their text, and keeps a number's text as written.
class TopLevelMemberReader final : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit TopLevelMemberReader(std::string key) : FKey(std::move(key)) {}

  bool RootIsObject() const { return FRootIsObject; }
  const std::optional<std::string>& Value() const { return FValue; }

  bool null() override { return scalar({}); }
  bool boolean(bool) override { return scalar({}); }
  bool number_integer(number_integer_t value) override { return scalar(std::to_string(value)); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(std::to_string(value)); }
  bool number_float(number_float_t, const string_t& text) override { return scalar(text); }
  bool string(string_t& text) override { return scalar(text); }
  bool binary(binary_t&) override { return scalar({}); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& name) override {
    FAtWantedMember = FDepth == 1 && name == FKey && !FValue;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  // A value that is not a string or number still counts as found: the first match wins.
  bool scalar(std::string text) {
    if (FDepth == 1 && FAtWantedMember) FValue = std::move(text);
    FAtWantedMember = false;
    return true;
  }
  bool open(bool isObject) {
    if (FDepth == 0) FRootIsObject = isObject;
    if (FDepth == 1 && FAtWantedMember) FValue = std::string();
    FAtWantedMember = false;
    ++FDepth;
    return true;
  }
  bool close() {
    --FDepth;
    return true;
  }

  std::string FKey;
  std::optional<std::string> FValue;
  std::size_t FDepth = 0;
  bool FRootIsObject = false;
  bool FAtWantedMember = false;
};

}  // namespace

QString GetJsonStringValue(const QString& AJson, const QString& AKey) {
  if (AJson.isEmpty()) return {};
  const QByteArray text = AJson.toUtf8();
  TopLevelMemberReader reader(AKey.toStdString());
  const bool valid = nlohmann::json::sax_parse(text.constData(), text.constData() + text.size(), &reader);
  if (!valid) return {};
  if (!reader.RootIsObject()) throw Exception(QStringLiteral("Invalid class typecast"));
  return reader.Value() ? QString::fromStdString(*reader.Value()) : QString();
}
