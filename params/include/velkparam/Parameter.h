// The declaration of a node's (or a pipeline's) parameters: one entry per parameter with its name,
// type, default, allowed values, unit and one-line meaning. Everything else about a parameter is
// derived from its entry: the check of a value, the text that says what is accepted, the typing of
// a value given as text (command line) or as a number of another type (network files), and the
// documentation.
//
// Shared by the library (which declares the localiser's and the separator's parameters and checks
// configurations with them) and the host (which lists, types and checks node parameters); it
// depends on neither.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "velkparam/Export.h"

namespace velkparam {

enum class Type { Int, Float, String, IntList, FloatList };

// "int", "float", "string", "Vector<int>", "Vector<float>".
VELKPARAM_API std::string TypeName(Type type);

using Value = std::variant<int, float, std::string, std::vector<int>, std::vector<float>>;
VELKPARAM_API Type TypeOf(const Value& value);

// A value as it would be written in a network file: 16000, 20.0, "LEFT", [0, 1], [30.0, -30.0].
VELKPARAM_API std::string ToText(const Value& value);

// Whether an absent parameter is an error.
enum class Need {
  Always,      // required
  Optional,    // the declared default is used when it is absent
  Conditional  // required only in the situation the entry's `when` text names
};

// A limit on a number (on each element of a list).
struct VELKPARAM_API Bound {
  double value;
  bool inclusive;
};

struct VELKPARAM_API Declaration {
  std::string name;
  Type type = Type::String;
  Value defaultValue;  // what the tools fill in when the user gives nothing
  std::string unit;    // "Hz", "ms", "degrees", ...; empty for none
  std::string meaning;
  std::optional<Bound> min, max;
  int multipleOf = 0;                 // ints: 2 for "even"; 0 for any
  int listSize = -1;                  // lists: the exact number of elements; -1 for any
  std::vector<std::string> keywords;  // strings: the keywords, compared exactly
  // With keywords: when set, any other text is accepted too and acts as this keyword (a text that
  // matches no keyword selects this branch); when empty, any other text is refused.
  std::string otherwise;
  Need need = Need::Always;
  std::string when;  // for Need::Conditional: when the parameter is needed

  // Entries are written as Declaration::Int(...).AtLeast(1).Unit("Hz"), and so on.
  static Declaration Int(std::string name, int defaultValue, std::string unit, std::string meaning);
  static Declaration Float(std::string name, float defaultValue, std::string unit, std::string meaning);
  static Declaration Text(std::string name, std::string defaultValue, std::string meaning);
  static Declaration IntList(std::string name, std::vector<int> defaultValue, std::string unit, std::string meaning);
  static Declaration FloatList(std::string name, std::vector<float> defaultValue, std::string unit, std::string meaning);
  Declaration& AtLeast(double v);
  Declaration& Above(double v);
  Declaration& AtMost(double v);
  Declaration& Even();
  Declaration& Size(int n);
  Declaration& Keywords(std::vector<std::string> accepted, std::string otherwiseKeyword = "");
  Declaration& Optional();
  Declaration& NeededWhen(std::string situation);
};

// What the entry accepts, for messages and documentation: "an int of at least 1", "a float above
// 0", "\"LEFT\" or \"RIGHT\" (any other text acts as \"RIGHT\")", "a list of 2 ints, each at least
// 0", "any text".
VELKPARAM_API std::string Accepted(const Declaration& decl);

// Empty when `value` is acceptable for the entry, else why not (ending in what is accepted).
VELKPARAM_API std::string Problem(const Declaration& decl, const Value& value);

// The keyword a text selects: itself when it is one of the keywords, else the fallback keyword.
// The one place where a text that matches no keyword falls back to another branch.
// std::invalid_argument when the entry has no fallback and the text is not a keyword.
VELKPARAM_API const std::string& SelectedKeyword(const Declaration& decl, const std::string& text);

// A value of another type as the entry's type, where that loses nothing: an int (or a list of
// ints) for a float parameter, a float of whole value for an int parameter. Values of the entry's
// type come back unchanged. Otherwise nothing, with the reason in `why`: "2.5 is not a whole
// number", "expected an int, got a string".
VELKPARAM_API std::optional<Value> Converted(const Declaration& decl, const Value& value, std::string* why);

// A value written as text (command line), typed by the entry: "20" or "20.5" for a float, "0,1"
// or "[0, 1]" for a list, any text for a string. std::invalid_argument naming the parameter, the
// text and the type expected when the text does not read as that type.
VELKPARAM_API Value Parse(const Declaration& decl, const std::string& text);

// The entry named `name`, or null.
VELKPARAM_API const Declaration* Find(const std::vector<Declaration>& table, const std::string& name);
// The names of a table, comma-separated, for messages.
VELKPARAM_API std::string Names(const std::vector<Declaration>& table);

// A value refused for a parameter: names the parameter, the value and what is accepted.
class VELKPARAM_API ParameterError : public std::invalid_argument {
 public:
  ParameterError(std::string parameter, std::string value, std::string problem);
  const std::string& parameter() const { return parameter_; }
  const std::string& value() const { return value_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string parameter_, value_, problem_;
};

// Parameter values by name.
using Values = std::map<std::string, Value>;

// Checks every entry of `table` that `values` holds; throws ParameterError for the first value
// (in table order) that is refused, and for a required entry that is missing. Names that are not
// in the table are refused too.
VELKPARAM_API void Check(const std::vector<Declaration>& table, const Values& values);

// `given` over every entry's default, checked (see Check): the complete values of a configuration.
VELKPARAM_API Values Completed(const std::vector<Declaration>& table, const Values& given);

// Typed reads of checked values; the entry's default when the value is absent.
VELKPARAM_API int IntOf(const std::vector<Declaration>& table, const Values& values, const std::string& name);
VELKPARAM_API float FloatOf(const std::vector<Declaration>& table, const Values& values, const std::string& name);
VELKPARAM_API std::string TextOf(const std::vector<Declaration>& table, const Values& values, const std::string& name);
VELKPARAM_API std::vector<int> IntsOf(const std::vector<Declaration>& table, const Values& values, const std::string& name);
// The keyword the text of keyword parameter `name` selects (see SelectedKeyword).
VELKPARAM_API const std::string& KeywordOf(const std::vector<Declaration>& table, const Values& values, const std::string& name);

}  // namespace velkparam
