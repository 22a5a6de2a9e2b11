// Document templates: the skeleton of each editor document, filled from the
// editor's option file or made from built-in defaults.
//
// A template produces the text that the document's writer then loads, fills
// and prints. The text is kept in memory: the writer replaces the target file
// in one atomic write, so a failed run never leaves a skeleton behind.
//
// Template text layout: the XML declaration, the root's start tag with its
// version attribute, one element per line indented by one tab per depth
// below the root, leaves on one line ("\t<name></name>" when empty),
// containers with their start and end tags on lines of their own. Lines end
// in CR LF on every platform.
#pragma once

#include <string>

#include <tinyxml2.h>

#include "platform/status.h"

namespace korvex {

class Vtxx_template {
 public:
  virtual ~Vtxx_template() = default;

  // The path of the document the template is for (named in messages).
  void setPath(const std::string& path) { path_ = path; }

  // Says which source is used ("make vtpj from vtop." or "make vtpj from
  // default.", the same words for every document) on `lines` and makes the
  // text: from `option` when it loaded without error, else the built-in
  // default.
  void build(const tinyxml2::XMLDocument& option, const LineSink& lines);

  // Makes the skeleton, copies the option sections into it and prints the
  // result with the document printer. Only the skeleton when the filled
  // document cannot be made.
  virtual void makeFromOption(const tinyxml2::XMLDocument& option) = 0;
  // Makes the built-in default text.
  virtual void makeDefault() = 0;

  // The bytes the template made.
  const std::string& text() const { return text_; }

  // Loads text() into `document` (entities processed, whitespace kept); a
  // failure carries "error: cannot read back the document made for PATH:
  // <tinyxml2's error>".
  Status load(tinyxml2::XMLDocument& document) const;

  // The three steps every writer starts with: setPath(path), build(option,
  // lines), then load(document).
  Status makeDocument(const std::string& path, const tinyxml2::XMLDocument& option, const LineSink& lines,
                      tinyxml2::XMLDocument& document);

 protected:
  std::string path_;
  std::string text_;
};

// The project (.vtpj): exportPath, projectSettings, animeSettings and
// texPackSettings of the option file.
class Vtpj_template : public Vtxx_template {
 public:
  void makeFromOption(const tinyxml2::XMLDocument& option) override;
  void makeDefault() override;
};

// The cell map (.vtce): texPackSettings of the option file.
class Vtce_template : public Vtxx_template {
 public:
  void makeFromOption(const tinyxml2::XMLDocument& option) override;
  void makeDefault() override;
};

// The animation pack (.vtae): animeSettings of the option file, for the pack
// and both animations; the "Setup" animation keeps a frameCount of 1.
class Vtae_template : public Vtxx_template {
 public:
  void makeFromOption(const tinyxml2::XMLDocument& option) override;
  void makeDefault() override;
};

}  // namespace korvex
