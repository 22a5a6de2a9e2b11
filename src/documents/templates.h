// Document templates: the skeleton of each editor document, filled from the
// editor's option file or written from built-in defaults.
#pragma once

#include <string>

#include <tinyxml2.h>

namespace korvex {

class Vtxx_template {
 public:
  void setPath(const std::string& path) { path_ = path; }
  // Implementation defined by the documents module.

 protected:
  std::string path_;
};

class Vtpj_template : public Vtxx_template {};
class Vtce_template : public Vtxx_template {};
class Vtae_template : public Vtxx_template {};

}  // namespace korvex
