#include "velkparam/Parameter.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace velkparam {

namespace {

// Whole numbers as integers, others as the shortest text that reads back to the same number.
std::string NumberText(double value) {
  if (std::floor(value) == value && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

// Floats keep a decimal point so that they read back as floats.
std::string FloatText(float value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  std::string s(text, r.ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

template <class T, class Format>
std::string ListText(const std::vector<T>& list, Format format) {
  std::string text = "[";
  for (size_t i = 0; i < list.size(); ++i) text += (i ? ", " : "") + format(list[i]);
  return text + "]";
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// "an int", "a float", "a string", "a list of ints", "a list of floats".
std::string WithArticle(Type type) {
  switch (type) {
    case Type::Int:
      return "an int";
    case Type::Float:
      return "a float";
    case Type::String:
      return "a string";
    case Type::IntList:
      return "a list of ints";
    case Type::FloatList:
      return "a list of floats";
  }
  return "a value";
}

// " of at least 1 and at most 10", " above 0", "" for a number without limits.
std::string BoundsText(const Declaration& decl) {
  std::string text;
  if (decl.min) text += (decl.min->inclusive ? " of at least " : " above ") + NumberText(decl.min->value);
  if (decl.max)
    text += std::string(decl.min ? " and" : "") + (decl.max->inclusive ? " at most " : " below ") +
            NumberText(decl.max->value);
  if (!decl.min && decl.max) text = " of" + text;
  return text;
}

bool WithinBounds(const Declaration& decl, double v) {
  if (!std::isfinite(v)) return false;
  if (decl.min && (decl.min->inclusive ? v < decl.min->value : v <= decl.min->value)) return false;
  if (decl.max && (decl.max->inclusive ? v > decl.max->value : v >= decl.max->value)) return false;
  return true;
}

bool NumberAcceptable(const Declaration& decl, double v, bool isInt) {
  if (!WithinBounds(decl, v)) return false;
  if (isInt && decl.multipleOf > 1 && static_cast<long long>(v) % decl.multipleOf != 0) return false;
  return true;
}

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool ReadInt(const std::string& text, int& value) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(t.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool ReadFloat(const std::string& text, float& value) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(t.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// "a,b,c" or "[a, b, c]" split at the commas; "" and "[]" are the empty list.
std::vector<std::string> ListItems(std::string text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  std::vector<std::string> items;
  if (Trimmed(text).empty()) return items;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    items.push_back(text.substr(start, comma - start));
  items.push_back(text.substr(start));
  return items;
}

template <class T, class Read>
bool ReadList(const std::string& text, Read read, std::vector<T>& list) {
  for (const std::string& item : ListItems(text)) {
    T v{};
    if (!read(item, v)) return false;
    list.push_back(v);
  }
  return true;
}

// A whole float as an int; false for fractions and values beyond the range of an int.
bool WholeNumber(float f, int& value) {
  if (!std::isfinite(f) || std::floor(f) != f || f < static_cast<float>(INT_MIN) || f >= 2147483648.0f) return false;
  value = static_cast<int>(f);
  return true;
}

}  // namespace

std::string TypeName(Type type) {
  switch (type) {
    case Type::Int:
      return "int";
    case Type::Float:
      return "float";
    case Type::String:
      return "string";
    case Type::IntList:
      return "Vector<int>";
    case Type::FloatList:
      return "Vector<float>";
  }
  return "?";
}

Type TypeOf(const Value& value) { return static_cast<Type>(value.index()); }

std::string ToText(const Value& value) {
  switch (TypeOf(value)) {
    case Type::Int:
      return std::to_string(std::get<int>(value));
    case Type::Float:
      return FloatText(std::get<float>(value));
    case Type::String:
      return Quoted(std::get<std::string>(value));
    case Type::IntList:
      return ListText(std::get<std::vector<int>>(value), [](int v) { return std::to_string(v); });
    case Type::FloatList:
      return ListText(std::get<std::vector<float>>(value), FloatText);
  }
  return "";
}

// ---- building entries -------------------------------------------------------------------------

namespace {
Declaration Make(std::string name, Type type, Value defaultValue, std::string unit, std::string meaning) {
  Declaration decl;
  decl.name = std::move(name);
  decl.type = type;
  decl.defaultValue = std::move(defaultValue);
  decl.unit = std::move(unit);
  decl.meaning = std::move(meaning);
  return decl;
}
}  // namespace

Declaration Declaration::Int(std::string name, int defaultValue, std::string unit, std::string meaning) {
  return Make(std::move(name), Type::Int, defaultValue, std::move(unit), std::move(meaning));
}

Declaration Declaration::Float(std::string name, float defaultValue, std::string unit, std::string meaning) {
  return Make(std::move(name), Type::Float, defaultValue, std::move(unit), std::move(meaning));
}

Declaration Declaration::Text(std::string name, std::string defaultValue, std::string meaning) {
  return Make(std::move(name), Type::String, std::move(defaultValue), "", std::move(meaning));
}

Declaration Declaration::IntList(std::string name, std::vector<int> defaultValue, std::string unit, std::string meaning) {
  return Make(std::move(name), Type::IntList, std::move(defaultValue), std::move(unit), std::move(meaning));
}

Declaration Declaration::FloatList(std::string name, std::vector<float> defaultValue, std::string unit, std::string meaning) {
  return Make(std::move(name), Type::FloatList, std::move(defaultValue), std::move(unit), std::move(meaning));
}

Declaration& Declaration::AtLeast(double v) {
  min = Bound{v, true};
  return *this;
}

Declaration& Declaration::Above(double v) {
  min = Bound{v, false};
  return *this;
}

Declaration& Declaration::AtMost(double v) {
  max = Bound{v, true};
  return *this;
}

Declaration& Declaration::Even() {
  multipleOf = 2;
  return *this;
}

Declaration& Declaration::Size(int n) {
  listSize = n;
  return *this;
}

Declaration& Declaration::Keywords(std::vector<std::string> accepted, std::string otherwiseKeyword) {
  keywords = std::move(accepted);
  otherwise = std::move(otherwiseKeyword);
  return *this;
}

Declaration& Declaration::Optional() {
  need = Need::Optional;
  return *this;
}

Declaration& Declaration::NeededWhen(std::string situation) {
  need = Need::Conditional;
  when = std::move(situation);
  return *this;
}

// ---- checking ---------------------------------------------------------------------------------

std::string Accepted(const Declaration& decl) {
  switch (decl.type) {
    case Type::Int:
      return std::string(decl.multipleOf == 2 ? "an even int" : "an int") + BoundsText(decl);
    case Type::Float:
      return "a float" + BoundsText(decl);
    case Type::String: {
      if (decl.keywords.empty()) return "any text";
      std::string text;
      for (size_t i = 0; i < decl.keywords.size(); ++i)
        text += (i == 0 ? "" : i + 1 == decl.keywords.size() ? " or " : ", ") + Quoted(decl.keywords[i]);
      if (!decl.otherwise.empty()) text += " (any other text acts as " + Quoted(decl.otherwise) + ")";
      return text;
    }
    case Type::IntList:
    case Type::FloatList: {
      const std::string element = decl.type == Type::IntList ? "int" : "float";
      std::string text = "a list of " + (decl.listSize >= 0 ? std::to_string(decl.listSize) + " " : std::string()) +
                         element + (decl.listSize == 1 ? "" : "s");
      const std::string bounds = BoundsText(decl);
      if (!bounds.empty()) text += ", each" + bounds.substr(bounds.compare(0, 4, " of ") == 0 ? 3 : 0);
      return text;
    }
  }
  return "";
}

std::string Problem(const Declaration& decl, const Value& value) {
  const Type type = TypeOf(value);
  const std::string expected = "expected " + Accepted(decl);
  if (type != decl.type) return expected + ", got " + WithArticle(type);
  switch (type) {
    case Type::Int:
      return NumberAcceptable(decl, std::get<int>(value), true) ? "" : expected;
    case Type::Float:
      return NumberAcceptable(decl, std::get<float>(value), false) ? "" : expected;
    case Type::String: {
      const std::string& text = std::get<std::string>(value);
      if (decl.keywords.empty() || !decl.otherwise.empty()) return "";
      for (const std::string& k : decl.keywords)
        if (k == text) return "";
      return expected;
    }
    case Type::IntList:
    case Type::FloatList: {
      std::vector<double> elements;
      if (type == Type::IntList)
        for (int v : std::get<std::vector<int>>(value)) elements.push_back(v);
      else
        for (float v : std::get<std::vector<float>>(value)) elements.push_back(v);
      if (decl.listSize >= 0 && elements.size() != static_cast<size_t>(decl.listSize)) return expected;
      for (double v : elements)
        if (!NumberAcceptable(decl, v, type == Type::IntList)) return expected;
      return "";
    }
  }
  return expected;
}

const std::string& SelectedKeyword(const Declaration& decl, const std::string& text) {
  for (const std::string& k : decl.keywords)
    if (k == text) return k;
  if (decl.otherwise.empty())
    throw ParameterError(decl.name, Quoted(text), "expected " + Accepted(decl));
  return decl.otherwise;
}

std::optional<Value> Converted(const Declaration& decl, const Value& value, std::string* why) {
  const Type type = TypeOf(value);
  if (type == decl.type) return value;
  auto refuse = [&](const std::string& reason) -> std::optional<Value> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (decl.type == Type::Float && type == Type::Int) return Value(static_cast<float>(std::get<int>(value)));
  if (decl.type == Type::Int && type == Type::Float) {
    int whole = 0;
    if (!WholeNumber(std::get<float>(value), whole))
      return refuse(ToText(value) + " is not a whole number; expected " + Accepted(decl));
    return Value(whole);
  }
  if (decl.type == Type::FloatList && type == Type::IntList) {
    std::vector<float> list;
    for (int v : std::get<std::vector<int>>(value)) list.push_back(static_cast<float>(v));
    return Value(list);
  }
  if (decl.type == Type::IntList && type == Type::FloatList) {
    std::vector<int> list;
    for (float v : std::get<std::vector<float>>(value)) {
      int whole = 0;
      if (!WholeNumber(v, whole)) return refuse(FloatText(v) + " is not a whole number; expected " + Accepted(decl));
      list.push_back(whole);
    }
    return Value(list);
  }
  return refuse("expected " + Accepted(decl) + ", got " + WithArticle(type));
}

Value Parse(const Declaration& decl, const std::string& text) {
  bool ok = true;
  Value value;
  switch (decl.type) {
    case Type::Int: {
      int v = 0;
      ok = ReadInt(text, v);
      value = v;
      break;
    }
    case Type::Float: {
      float v = 0;
      ok = ReadFloat(text, v);
      value = v;
      break;
    }
    case Type::String:
      value = text;
      break;
    case Type::IntList: {
      std::vector<int> list;
      ok = ReadList<int>(text, ReadInt, list);
      value = list;
      break;
    }
    case Type::FloatList: {
      std::vector<float> list;
      ok = ReadList<float>(text, ReadFloat, list);
      value = list;
      break;
    }
  }
  if (!ok) throw ParameterError(decl.name, Quoted(text), "does not read as " + WithArticle(decl.type));
  return value;
}

const Declaration* Find(const std::vector<Declaration>& table, const std::string& name) {
  for (const Declaration& decl : table)
    if (decl.name == name) return &decl;
  return nullptr;
}

std::string Names(const std::vector<Declaration>& table) {
  std::string names;
  for (const Declaration& decl : table) names += (names.empty() ? "" : ", ") + decl.name;
  return names.empty() ? "none" : names;
}

ParameterError::ParameterError(std::string parameter, std::string value, std::string problem)
    : std::invalid_argument("parameter \"" + parameter + "\"" + (value.empty() ? "" : " = " + value) + ": " + problem),
      parameter_(std::move(parameter)),
      value_(std::move(value)),
      problem_(std::move(problem)) {}

void Check(const std::vector<Declaration>& table, const Values& values) {
  for (const Declaration& decl : table) {
    auto it = values.find(decl.name);
    if (it == values.end()) {
      if (decl.need == Need::Always) throw ParameterError(decl.name, "", "missing; expected " + Accepted(decl));
      continue;
    }
    const std::string problem = Problem(decl, it->second);
    if (!problem.empty()) throw ParameterError(decl.name, ToText(it->second), problem);
  }
  for (const auto& [name, value] : values)
    if (!Find(table, name)) throw ParameterError(name, ToText(value), "unknown; the parameters are " + Names(table));
}

namespace {
template <class T>
T TypedOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  const Declaration* decl = Find(table, name);
  if (!decl) throw std::logic_error("no parameter \"" + name + "\" is declared");
  auto it = values.find(name);
  const Value& value = it == values.end() ? decl->defaultValue : it->second;
  if (const T* typed = std::get_if<T>(&value)) return *typed;
  throw ParameterError(name, ToText(value), "expected " + Accepted(*decl) + ", got " + WithArticle(TypeOf(value)));
}
}  // namespace

int IntOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  return TypedOf<int>(table, values, name);
}

float FloatOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  return TypedOf<float>(table, values, name);
}

std::string TextOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  return TypedOf<std::string>(table, values, name);
}

std::vector<int> IntsOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  return TypedOf<std::vector<int>>(table, values, name);
}

const std::string& KeywordOf(const std::vector<Declaration>& table, const Values& values, const std::string& name) {
  const std::string text = TextOf(table, values, name);
  return SelectedKeyword(*Find(table, name), text);
}

Values Completed(const std::vector<Declaration>& table, const Values& given) {
  Values values;
  for (const Declaration& decl : table) values[decl.name] = decl.defaultValue;
  for (const auto& [name, value] : given) values[name] = value;
  Check(table, values);
  return values;
}

}  // namespace velkparam
