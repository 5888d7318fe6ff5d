#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/window.hpp"
#include "platform/coding/date.hpp"
#include "platform/combine/published.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/foundation/url.hpp"

namespace vurle {

class LegalAgreementSheetController;

// The end-user agreement: the document shipped in the bundle, whether the
// user accepted it (which gates the animation), and whether a newer
// revision than the accepted one awaits review. One shared instance; main
// thread only.
class LegalAgreement : public std::enable_shared_from_this<LegalAgreement> {
 public:
  // The bundle resource "EULA.json".
  struct Document {
    std::string version;
    std::string text;
    // Both hold more than white space and newlines.
    bool isValid() const;
    bool operator==(const Document&) const = default;
  };

  // Stored as JSON under "eulaAcceptance"; "acceptedAt" in the JSON coder's
  // default date form (seconds since 2001-01-01 UTC).
  struct Acceptance {
    std::string version;
    platform::Date acceptedAt;
  };

  using Clock = std::function<platform::Date()>;

  // Built on first use from the main bundle's document, the standard user
  // defaults and the current date.
  static std::shared_ptr<LegalAgreement> shared();
  // Reads the acceptance state at once; it is not re-read later.
  static std::shared_ptr<LegalAgreement> make(std::shared_ptr<platform::NSUserDefaults> defaults,
                                              std::optional<Document> document, Clock clock);

  // Changed only by this store: once accepted, it stays accepted.
  bool accepted() const { return accepted_.value(); }
  platform::Publisher<bool> acceptedPublisher() const { return accepted_.publisher(); }
  bool showsUpdateNotice() const { return showsUpdateNotice_.value(); }
  platform::Publisher<bool> showsUpdateNoticePublisher() const { return showsUpdateNotice_.publisher(); }
  const std::optional<Document>& document() const { return document_; }
  const std::shared_ptr<LegalAgreementSheetController>& sheetController() const { return sheetController_; }

  // Records acceptance of the bundled revision when the user ticked the
  // consent; true when the agreement is accepted afterwards.
  bool accept(bool checked);
  // The current revision was reviewed in the sheet (Done or Escape).
  void markUpdateReviewed();
  // Shows the agreement sheet on the window, or on a window chosen by rule;
  // an open agreement sheet is brought to the front instead.
  void presentSheet(const std::shared_ptr<platform::NSWindow>& window);

 private:
  LegalAgreement(std::shared_ptr<platform::NSUserDefaults> defaults, std::optional<Document> document, Clock clock);
  void sheetDone();

  platform::Published<bool> accepted_{false};
  platform::Published<bool> showsUpdateNotice_{false};
  const std::optional<Document> document_;
  const std::shared_ptr<platform::NSUserDefaults> defaults_;
  const Clock clock_;
  std::shared_ptr<LegalAgreementSheetController> sheetController_;
};

// The product web site's root: https, ending in "/". The build may configure
// another root; absent only when that text is not a URL.
std::optional<platform::NSURL> siteBaseURL();
// The site's built-in root, whatever root the build configures.
platform::NSURL builtInSiteRoot();
// Links to the product site's privacy and terms pages go to those pages
// under the site base URL; every other link is returned unchanged.
platform::NSURL legalLinkDestination(const platform::NSURL& url);
// The same under another site root (https, ending in "/").
platform::NSURL legalLinkDestination(const platform::NSURL& url, const std::optional<platform::NSURL>& siteBase);

}  // namespace vurle
