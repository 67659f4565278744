#include "support/json_schema.h"

#include <regex>
#include <set>

#include "support/test_platform.h"

namespace hhsync::test {
namespace {

using nlohmann::json;

const std::set<std::string> kAnnotations = {"title", "description", "$schema",
                                            "$id",   "$comment",    "definitions"};

class Validator {
 public:
  explicit Validator(const json& root) : root_(root) {}

  void Check(const json& schema, const json& value, const std::string& where) {
    if (schema.is_boolean()) {
      if (!schema.get<bool>()) Fail(where, "no value is allowed here");
      return;
    }
    if (!schema.is_object()) {
      Fail(where, "the schema is neither an object nor a boolean");
      return;
    }
    for (const auto& [keyword, argument] : schema.items()) {
      if (kAnnotations.count(keyword) != 0 || keyword == "then" || keyword == "else") continue;
      Keyword(schema, keyword, argument, value, where);
    }
  }

  std::vector<std::string> errors;

 private:
  void Fail(const std::string& where, const std::string& what) {
    errors.push_back((where.empty() ? "/" : where) + ": " + what);
  }

  // Whether value validates against schema, without recording why not.
  bool Passes(const json& schema, const json& value) {
    Validator inner(root_);
    inner.Check(schema, value, "");
    return inner.errors.empty();
  }

  static bool IsType(const json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    if (type == "number") return value.is_number();
    if (type == "integer") {
      if (value.is_number_integer()) return true;
      if (!value.is_number_float()) return false;
      const double d = value.get<double>();
      return d == static_cast<double>(static_cast<long long>(d));
    }
    return false;
  }

  static std::size_t CodePoints(const std::string& utf8) {
    std::size_t count = 0;
    for (unsigned char c : utf8) count += (c & 0xC0) != 0x80 ? 1 : 0;
    return count;
  }

  const json* Resolve(const std::string& ref) {
    if (ref.rfind("#", 0) != 0) return nullptr;
    const std::string pointer = ref.substr(1);
    try {
      return &root_.at(json::json_pointer(pointer));
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void Keyword(const json& schema, const std::string& keyword, const json& argument,
               const json& value, const std::string& where) {
    if (keyword == "type") {
      std::vector<std::string> types;
      if (argument.is_string()) {
        types.push_back(argument.get<std::string>());
      } else {
        for (const json& t : argument) types.push_back(t.get<std::string>());
      }
      for (const std::string& t : types) {
        if (IsType(value, t)) return;
      }
      Fail(where, "is " + std::string(value.type_name()) + ", not " + argument.dump());
    } else if (keyword == "enum") {
      for (const json& allowed : argument) {
        if (allowed == value) return;
      }
      Fail(where, value.dump() + " is not one of " + argument.dump());
    } else if (keyword == "const") {
      if (argument != value) Fail(where, value.dump() + " is not " + argument.dump());
    } else if (keyword == "properties") {
      if (!value.is_object()) return;
      for (const auto& [name, sub] : argument.items()) {
        if (value.contains(name)) Check(sub, value[name], where + "/" + name);
      }
    } else if (keyword == "required") {
      if (!value.is_object()) return;
      for (const json& name : argument) {
        if (!value.contains(name.get<std::string>())) {
          Fail(where, "lacks " + name.get<std::string>());
        }
      }
    } else if (keyword == "additionalProperties") {
      if (!value.is_object()) return;
      const json properties = schema.value("properties", json::object());
      for (const auto& [name, member] : value.items()) {
        if (properties.contains(name)) continue;
        if (argument.is_boolean() && !argument.get<bool>()) {
          Fail(where, "has " + name + ", which is not allowed");
        } else {
          Check(argument, member, where + "/" + name);
        }
      }
    } else if (keyword == "items") {
      if (!value.is_array()) return;
      for (std::size_t i = 0; i < value.size(); ++i) {
        Check(argument, value[i], where + "/" + std::to_string(i));
      }
    } else if (keyword == "minimum") {
      if (value.is_number() && value.get<double>() < argument.get<double>()) {
        Fail(where, value.dump() + " is below " + argument.dump());
      }
    } else if (keyword == "minLength") {
      if (value.is_string() && CodePoints(value.get<std::string>()) < argument.get<std::size_t>()) {
        Fail(where, "is shorter than " + argument.dump());
      }
    } else if (keyword == "pattern") {
      if (value.is_string() &&
          !std::regex_search(value.get<std::string>(), std::regex(argument.get<std::string>()))) {
        Fail(where, value.dump() + " does not match " + argument.get<std::string>());
      }
    } else if (keyword == "$ref") {
      const json* target = Resolve(argument.get<std::string>());
      if (target == nullptr) {
        Fail(where, "the reference " + argument.dump() + " leads nowhere");
      } else {
        Check(*target, value, where);
      }
    } else if (keyword == "allOf") {
      for (const json& sub : argument) Check(sub, value, where);
    } else if (keyword == "if") {
      const bool condition = Passes(argument, value);
      const char* branch = condition ? "then" : "else";
      if (schema.contains(branch)) Check(schema[branch], value, where);
    } else {
      Fail(where, "the schema uses \"" + keyword + "\", which this validator does not know");
    }
  }

  const json& root_;
};

}  // namespace

std::vector<std::string> ValidateJson(const json& schema, const json& value) {
  Validator validator(schema);
  validator.Check(schema, value, "");
  return validator.errors;
}

const json& ReportSchema() {
  static const json schema =
      json::parse(ReadFile(std::string(HHSYNC_SOURCE_DIR) + "/docs/report.schema.json"));
  return schema;
}

}  // namespace hhsync::test
