// The end-user agreement: the bundled document and the stored acceptance
// record. The input is the document file, then a NUL, then the record.
// Properties: the document read is the file's "version" and "text" exactly,
// and it is read whenever both are strings with something visible in them;
// the agreement counts as accepted exactly when the record holds a version
// with something visible and a finite moment after 1970 (a record of
// anything else is ignored, never thrown); accepting stores a record that a
// new reader takes as accepted, and accepting again changes nothing stored.
#include "fuzz/fuzz_support.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace {

using platform::JSON;

const char* const kIdentifier = "app.vurle.fuzz";
const char* const kRecordKey = "eulaAcceptance";

// Holds a character other than ASCII white space and control characters:
// then no trimming, Unicode's included, can leave it empty.
bool visiblyNonBlank(const std::string& text) {
  for (unsigned char c : text) {
    if (c > 0x20 && c != 0x7F && c < 0x80) return true;
  }
  return false;
}

const JSON* stringMember(const JSON& json, const char* key) {
  if (!json.is_object()) return nullptr;
  auto found = json.find(key);
  return found != json.end() && found->is_string() ? &*found : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const auto [documentBytes, recordBytes] = splitAtNul(text(data, size));
  const auto& folder = freshScratchFolder();
  // The shared store is made too; it must not touch the user's settings.
  static const bool configured = ::setenv("XDG_CONFIG_HOME", (scratchFolder() / "config").c_str(), 1) == 0;
  require(configured, "cannot point the settings at the scratch folder");
  std::filesystem::create_directories(folder / "bundle" / "Resources");
  writeFile(folder / "bundle" / "Info.json", std::string(R"({"CFBundleIdentifier": ")") + kIdentifier + "\"}");
  writeFile(folder / "bundle" / "Resources" / "EULA.json", documentBytes);

  // The shared agreement reads the bundle's document; the record is read
  // from a store in memory, since a stored file is synced on every write.
  platform::LogCapture log;
  platform::resetProcessState();
  platform::NSBundle::setMainBundlePath(folder / "bundle");
  const auto bundled = vurle::LegalAgreement::shared()->document();
  const auto defaults = platform::NSUserDefaults::makeInMemory(kIdentifier);
  defaults->setObject(platform::dataFromString(recordBytes), kRecordKey);
  const auto clock = [] { return platform::Date::withTimeIntervalSince1970(1'000'000'000.0); };
  const auto agreement = vurle::LegalAgreement::make(defaults, bundled, clock);

  // The document.
  const JSON document = parseJSON(documentBytes);
  const JSON* version = stringMember(document, "version");
  const JSON* body = stringMember(document, "text");
  if (const auto& read = agreement->document()) {
    require(version && body && read->version == version->get<std::string>() && read->text == body->get<std::string>(),
            "the document read is not the file's");
  } else {
    require(!(version && body && visiblyNonBlank(version->get<std::string>()) &&
              visiblyNonBlank(body->get<std::string>())),
            "a valid document was not read");
  }

  // The record.
  const JSON record = parseJSON(recordBytes);
  const JSON* recordVersion = stringMember(record, "version");
  const auto found = record.is_object() ? record.find("acceptedAt") : record.end();
  const JSON* moment = found != record.end() ? &*found : nullptr;
  const bool momentAcceptable = moment && moment->is_number() && std::isfinite(moment->get<double>()) &&
                                moment->get<double>() + platform::Date::timeIntervalBetween1970AndReferenceDate > 0;
  if (agreement->accepted()) {
    require(recordVersion && momentAcceptable, "an unusable record counts as accepted");
  } else {
    require(!(recordVersion && visiblyNonBlank(recordVersion->get<std::string>()) && momentAcceptable),
            "a valid record was not taken as accepted");
  }

  // Accepting, then reading again.
  const auto stored = defaults->dataForKey(kRecordKey);
  const bool wasAccepted = agreement->accepted();
  const bool canAccept = wasAccepted || (agreement->document() && agreement->document()->isValid());
  require(agreement->accept(true) == canAccept, "accepting did not answer as it should");
  if (wasAccepted || !canAccept) {
    require(defaults->dataForKey(kRecordKey) == stored, "accepting changed a record it should have kept");
    return 0;
  }
  const auto reread = vurle::LegalAgreement::make(defaults, agreement->document(), clock);
  require(reread->accepted(), "an acceptance just stored does not read back");
  require(!reread->showsUpdateNotice(), "the revision just accepted shows as new");
  return 0;
}
