#pragma once
// Files in the desktop entry format, as desktop entries and mimeapps.list are written:
// "[Group]" headers, "Key=Value" lines, '#' comments. Localised keys ("Name[de]") are kept
// under their full name, so a plain lookup never sees them.

#include <map>
#include <string>
#include <vector>

namespace corvane {

class KeyFile {
  public:
    // Reads the file; false when it cannot be read.
    bool Load(const std::string& path);

    bool Has(const std::string& group, const std::string& key) const;
    // The value with its escapes (\s \n \t \r \\) resolved; empty when absent.
    std::string Value(const std::string& group, const std::string& key) const;
    // A ';'-separated list, without empty items; "\;" is a semicolon inside an item.
    std::vector<std::string> List(const std::string& group, const std::string& key) const;
    // True only for the value "true".
    bool Flag(const std::string& group, const std::string& key) const;

  private:
    const std::string* Raw(const std::string& group, const std::string& key) const;

    std::map<std::string, std::map<std::string, std::string>> groups_;
};

}  // namespace corvane
