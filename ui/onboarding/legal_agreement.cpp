#include "ui/onboarding/legal_agreement.hpp"

#include <cmath>
#include <cstdint>

#include "platform/appkit/application.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/process_wide.hpp"
#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

namespace vurle {
namespace {

using platform::JSON;

constexpr const char* kAcceptanceKey = "eulaAcceptance";
constexpr const char* kReviewedVersionKey = "legalUpdateReviewedVersion";
constexpr const char* kDefaultSiteRoot = "https://vurle.app/";
constexpr const char* kProductHost = "vurle.app";

// White space and newlines, as the platform's character set counts them.
bool isSpaceCodePoint(std::uint32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the character starting at `i`; its length goes to `length`.
std::uint32_t decodeAt(const std::string& text, size_t i, size_t& length) {
  const auto lead = static_cast<unsigned char>(text[i]);
  length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (i + length > text.size()) return length = 1, lead;
  std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return code;
}

// Trimmed of white space and newlines, Unicode's included.
std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t length = 0;
  while (begin < text.size() && isSpaceCodePoint(decodeAt(text, begin, length))) begin += length;
  size_t end = begin;
  for (size_t i = begin; i < text.size(); i += length) {
    if (!isSpaceCodePoint(decodeAt(text, i, length))) end = i + length;
  }
  return text.substr(begin, end - begin);
}

bool isAcceptableMoment(platform::Date date) {
  const double seconds = date.timeIntervalSince1970();
  return std::isfinite(seconds) && seconds > 0;
}

std::optional<LegalAgreement::Document> bundledDocument() {
  auto url = platform::NSBundle::mainBundle()->URLForResource("EULA", "json");
  if (!url) return std::nullopt;
  auto data = platform::dataWithContentsOfURL(*url);
  if (!data) return std::nullopt;
  try {
    const JSON json = platform::JSONDecode(*data);
    LegalAgreement::Document document{platform::decodeString(json, "version"), platform::decodeString(json, "text")};
    if (!document.isValid()) return std::nullopt;
    return document;
  } catch (const platform::DecodingError&) {
    return std::nullopt;
  }
}

platform::ProcessWide<std::shared_ptr<LegalAgreement>> sharedAgreement([] {
  return LegalAgreement::make(platform::NSUserDefaults::standardUserDefaults(), bundledDocument(), [] {
    return platform::Date::withTimeIntervalSince1970(platform::wallClockTime());
  });
});

}  // namespace

bool LegalAgreement::Document::isValid() const { return !trimmed(version).empty() && !trimmed(text).empty(); }

std::shared_ptr<LegalAgreement> LegalAgreement::shared() { return sharedAgreement.get(); }

std::shared_ptr<LegalAgreement> LegalAgreement::make(std::shared_ptr<platform::NSUserDefaults> defaults,
                                                     std::optional<Document> document, Clock clock) {
  return std::shared_ptr<LegalAgreement>(new LegalAgreement(std::move(defaults), std::move(document), std::move(clock)));
}

LegalAgreement::LegalAgreement(std::shared_ptr<platform::NSUserDefaults> defaults, std::optional<Document> document,
                               Clock clock)
    : document_(std::move(document)), defaults_(std::move(defaults)), clock_(std::move(clock)) {
  auto data = defaults_->dataForKey(kAcceptanceKey);
  if (!data) return;
  Acceptance record;
  try {
    const JSON json = platform::JSONDecode(*data);
    record = Acceptance{platform::decodeString(json, "version"), platform::decodeDate(json, "acceptedAt")};
  } catch (const platform::DecodingError&) {
    return;
  }
  if (trimmed(record.version).empty() || !isAcceptableMoment(record.acceptedAt)) return;
  // Any earlier revision's acceptance still counts.
  accepted_.set(true);
  const auto reviewed = defaults_->stringForKey(kReviewedVersionKey);
  showsUpdateNotice_.set(document_ && document_->isValid() && record.version != document_->version &&
                         (!reviewed || *reviewed != document_->version));
}

bool LegalAgreement::accept(bool checked) {
  if (!checked) return false;
  if (accepted()) return true;
  if (!document_ || !document_->isValid()) return false;
  const platform::Date now = clock_();
  if (!isAcceptableMoment(now)) return false;
  platform::Data data;
  try {
    data = platform::JSONEncode({{"version", document_->version}, {"acceptedAt", platform::encodeDate(now)}});
  } catch (const platform::EncodingError&) {
    return false;
  }
  defaults_->setObject(std::move(data), kAcceptanceKey);
  accepted_.set(true);
  showsUpdateNotice_.set(false);
  return true;
}

void LegalAgreement::markUpdateReviewed() {
  if (!accepted() || !document_ || !document_->isValid()) return;
  defaults_->setObject(document_->version, kReviewedVersionKey);
  showsUpdateNotice_.set(false);
}

void LegalAgreement::presentSheet(const std::shared_ptr<platform::NSWindow>& window) {
  if (sheetController_) {
    if (auto open = sheetController_->window()) open->makeKeyAndOrderFront();
    return;
  }
  auto application = platform::NSApplication::shared();
  auto parent = window;
  if (!parent) {
    if (auto key = application->keyWindow()) parent = key->sheetParent() ? key->sheetParent() : key;
  }
  if (!parent) parent = application->mainWindow();
  if (!parent || parent->attachedSheet()) return;

  auto controller = LegalAgreementSheetController::make(document_);
  auto panel = controller->window();
  if (!panel) return;
  controller->onDone = [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->sheetDone();
  };
  sheetController_ = controller;
  parent->beginSheet(panel, [weakSelf = weak_from_this(),
                             weakController = std::weak_ptr<LegalAgreementSheetController>(controller)](
                                platform::NSModalResponse) {
    auto self = weakSelf.lock();
    if (!self) return;
    // A newer sheet's controller is left in place.
    if (self->sheetController_ == weakController.lock()) self->sheetController_.reset();
  });
}

void LegalAgreement::sheetDone() {
  markUpdateReviewed();
  const auto controller = sheetController_;
  const auto panel = controller ? controller->window() : nullptr;
  if (!panel) return;
  if (auto parent = panel->sheetParent()) parent->endSheet(panel);
  panel->orderOut();
  sheetController_.reset();
}

std::optional<platform::NSURL> siteBaseURL() {
  const std::string configured = VURLE_SITE_BASE_URL;
  return platform::NSURL::URLWithString(configured.empty() ? kDefaultSiteRoot : configured);
}

platform::NSURL builtInSiteRoot() { return *platform::NSURL::URLWithString(kDefaultSiteRoot); }

platform::NSURL legalLinkDestination(const platform::NSURL& url) { return legalLinkDestination(url, siteBaseURL()); }

platform::NSURL legalLinkDestination(const platform::NSURL& url, const std::optional<platform::NSURL>& siteBase) {
  if (url.scheme() != "https" || url.host() != kProductHost) return url;
  if (url.query() || url.fragment()) return url;
  const std::string path = url.path();
  const char* page = path == "/privacy" || path == "/privacy/" ? "privacy/"
                     : path == "/terms" || path == "/terms/"   ? "terms/"
                                                               : nullptr;
  if (!page) return url;
  return siteBase ? siteBase->URLByAppendingPathComponent(page) : url;
}

}  // namespace vurle
