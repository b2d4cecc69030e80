// Runs the input as a little program of header operations, one per line (add, update,
// keyed set and remove, lookup, sort, dictionary and request bridges), on one
// HTTPHeaders, and checks after every step what the collection promises: at most one entry
// per name ignoring case, lookups find the last value written, replacement keeps the
// position.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HTTP/Core/HTTPHeader.h"
#include "HTTP/Core/HTTPHeaders.h"
#include "Invariant.h"
#include "Platform/URLRequest.h"

namespace {

using tolvane::http::HTTPHeader;
using tolvane::http::HTTPHeaders;

using tolvane::fuzz::check;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string mapped(std::string text, char (*f)(char)) {
  std::transform(text.begin(), text.end(), text.begin(), f);
  return text;
}

bool sameName(const std::string& a, const std::string& b) {
  return mapped(a, lower) == mapped(b, lower);
}

// Index of the entry named like `name`, ignoring case.
std::optional<std::size_t> indexOf(const HTTPHeaders& headers, const std::string& name) {
  for (std::size_t i = 0; i < headers.count(); ++i) {
    if (sameName(headers[i].name, name)) return i;
  }
  return std::nullopt;
}

void checkInvariants(const HTTPHeaders& headers) {
  check(headers.isEmpty() == (headers.count() == 0), "isEmpty agrees with count");
  for (std::size_t i = 0; i < headers.count(); ++i) {
    for (std::size_t j = i + 1; j < headers.count(); ++j) {
      check(!sameName(headers[i].name, headers[j].name),
            "no two entries share a name ignoring case");
    }
    check(headers.value(mapped(headers[i].name, upper)) == headers[i].value, "lookup ignores case");
  }
}

// One operation per line: an op-code character, then "Name: value" or just a name.
struct Operation {
  char code;
  std::string name;
  std::string value;
};

Operation parseLine(std::string_view line) {
  Operation op{line.empty() ? '\0' : line.front(), {}, {}};
  if (!line.empty()) line.remove_prefix(1);
  const auto colon = line.find(':');
  op.name = std::string(line.substr(0, colon));
  if (colon != std::string_view::npos) {
    line.remove_prefix(colon + 1);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    op.value = std::string(line);
  }
  return op;
}

void writeValue(HTTPHeaders& headers, const std::string& name, const std::string& value,
                const std::function<void(HTTPHeaders&)>& operation) {
  const HTTPHeaders before = headers;
  const auto existing = indexOf(before, name);
  operation(headers);
  check(headers.value(name) == value, "the written value is found");
  check(headers.value(mapped(name, lower)) == value && headers.value(mapped(name, upper)) == value,
        "the written value is found in any case");
  const std::size_t position = existing ? *existing : before.count();
  check(headers.count() == before.count() + (existing ? 0 : 1), "a write adds at most one entry");
  check(headers[position] == (HTTPHeader{name, value}), "a write replaces in place or appends");
  for (std::size_t i = 0; i < before.count(); ++i) {
    if (i != position) check(headers[i] == before[i], "a write leaves other entries alone");
  }
}

void removeValue(HTTPHeaders& headers, const std::string& name,
                 const std::function<void(HTTPHeaders&)>& operation) {
  const HTTPHeaders before = headers;
  const auto existing = indexOf(before, name);
  operation(headers);
  check(!headers.value(name).has_value(), "a removed name is gone");
  check(headers.count() == before.count() - (existing ? 1 : 0), "remove drops at most one entry");
  std::vector<HTTPHeader> expected = before.headers();
  if (existing) expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(*existing));
  check(headers.headers() == expected, "remove keeps the order of the rest");
}

void checkSorted(const HTTPHeaders& headers, const HTTPHeaders& original) {
  check(std::is_permutation(headers.begin(), headers.end(), original.begin(), original.end()),
        "sorting keeps every entry");
  check(std::is_sorted(headers.begin(), headers.end(),
                       [](const HTTPHeader& a, const HTTPHeader& b) {
                         return mapped(a.name, lower) < mapped(b.name, lower);
                       }),
        "sorted by lower-cased name");
}

void checkBridges(const HTTPHeaders& headers) {
  check(HTTPHeaders(headers.dictionary()) == headers, "dictionary round trip");
  check(HTTPHeaders(headers.headers()) == headers, "list round trip");
  check(headers.dictionary().size() == headers.count(), "one dictionary entry per header");
  tolvane::platform::URLRequest request;
  request.setValue("stale", "X-Stale");
  tolvane::http::setHeaders(request, headers);
  check(tolvane::http::headers(request) == headers, "request round trip replaces all fields");

  check(std::hash<HTTPHeaders>{}(HTTPHeaders(headers.dictionary())) ==
            std::hash<HTTPHeaders>{}(headers),
        "equal collections hash alike");
}

}  // namespace

// Op-codes: '+' add, '=' update with a header, '[' keyed set, '-' remove, '!' keyed set to
// none, '?' lookup, 's' sort, 'd' dictionary and other bridges, 'l' build from a list with
// repeated names, 'e' equality, '^' rename in place; other bytes pick one of these.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr std::string_view kCodes = "+=[-!?sdle^";
  std::string_view program = tolvane::fuzz::text(data, size);
  HTTPHeaders headers;
  for (int step = 0; step < 64 && !program.empty(); ++step) {
    const Operation op = parseLine(tolvane::fuzz::takeLine(program));
    const std::string& name = op.name;
    const std::string& value = op.value;
    const char code = kCodes.find(op.code) != std::string_view::npos
                          ? op.code
                          : kCodes[static_cast<unsigned char>(op.code) % kCodes.size()];
    switch (code) {
      case '+':
        writeValue(headers, name, value, [&](HTTPHeaders& h) { h.add(name, value); });
        break;
      case '=':
        writeValue(headers, name, value, [&](HTTPHeaders& h) {
          h.update(HTTPHeader{name, value});
        });
        break;
      case '[':
        writeValue(headers, name, value, [&](HTTPHeaders& h) { h.set(name, value); });
        break;
      case '-':
        removeValue(headers, name, [&](HTTPHeaders& h) { h.remove(name); });
        break;
      case '!':
        removeValue(headers, name, [&](HTTPHeaders& h) { h.set(name, std::nullopt); });
        break;
      case '?': {
        const auto index = indexOf(headers, name);
        check(headers.value(name) == (index ? std::optional(headers[*index].value) : std::nullopt),
              "lookup finds the entry with the name, or nothing");
        check(headers[name] == headers.value(name), "keyed read is lookup");
        break;
      }
      case 's': {
        const HTTPHeaders before = headers;
        const HTTPHeaders sortedCopy = headers.sorted();
        headers.sort();
        check(headers == sortedCopy, "sort and sorted agree");
        check(before.sorted() == sortedCopy, "sorted leaves the original alone");
        checkSorted(headers, before);
        break;
      }
      case 'd':
        checkBridges(headers);
        break;
      case 'l': {
        // A list with repeated names: each later one replaces the earlier in its place.
        std::vector<HTTPHeader> list = headers.headers();
        list.push_back({name, value});
        list.push_back({mapped(name, upper), value + "!"});
        const HTTPHeaders built(list);
        checkInvariants(built);
        check(built.value(mapped(name, lower)) == value + "!", "the last of repeated names wins");
        check(built.count() == headers.count() + (indexOf(headers, name) ? 0 : 1),
              "repeated names merge");
        break;
      }
      case 'e': {
        if (headers.count() >= 2) {
          HTTPHeaders reversed(
              std::vector<HTTPHeader>(headers.headers().rbegin(), headers.headers().rend()));
          check(!(reversed == headers), "order matters for equality");
          check(reversed.sorted() == headers.sorted(), "the same headers sort alike in any order");
        }
        break;
      }
      default: {
        // Rewrite an existing entry under another spelling of its name.
        const auto index = indexOf(headers, name);
        if (index) {
          const std::string respelled = mapped(name, (step % 2) != 0 ? upper : lower);
          const std::string kept = headers[*index].value;
          writeValue(headers, respelled, kept, [&](HTTPHeaders& h) { h.update(respelled, kept); });
          check(headers[*index].name == respelled,
                "a replacement takes the new spelling of the name");
        }
        break;
      }
    }
    checkInvariants(headers);
  }
  return 0;
}
