#include "instruments/VisaExpression.h"

#include <cctype>
#include <optional>
#include <vector>

namespace tarvo {
namespace {

// One element of an expression: something that takes one character, and how often it may repeat.
struct Element {
    enum Kind { Any, Literal, Set } kind = Literal;
    char literal = 0;
    std::string set;  // characters and ranges as written between the brackets
    bool negated = false;
    unsigned minCount = 1;
    bool unbounded = false;
};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool takes(const Element& e, char c) {
    switch (e.kind) {
        case Element::Any:
            return true;
        case Element::Literal:
            return lower(e.literal) == lower(c);
        case Element::Set: {
            bool inSet = false;
            for (size_t i = 0; i < e.set.size(); ++i) {
                if (i + 2 < e.set.size() && e.set[i + 1] == '-') {
                    inSet |= lower(c) >= lower(e.set[i]) && lower(c) <= lower(e.set[i + 2]);
                    i += 2;
                } else {
                    inSet |= lower(e.set[i]) == lower(c);
                }
            }
            return inSet != e.negated;
        }
    }
    return false;
}

std::optional<std::vector<Element>> compile(const std::string& expression) {
    std::vector<Element> elements;
    for (size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '*' || c == '+') {
            if (elements.empty()) {
                return std::nullopt;
            }
            elements.back().minCount = c == '+' ? 1 : 0;
            elements.back().unbounded = true;
            continue;
        }
        Element e;
        if (c == '?') {
            e.kind = Element::Any;
        } else if (c == '[') {
            size_t close = expression.find(']', i + 1);
            if (close == std::string::npos) {
                return std::nullopt;
            }
            e.kind = Element::Set;
            e.set = expression.substr(i + 1, close - i - 1);
            if (!e.set.empty() && e.set[0] == '^') {
                e.negated = true;
                e.set.erase(0, 1);
            }
            i = close;
        } else {
            e.literal = c;
        }
        elements.push_back(e);
    }
    return elements;
}

bool matchFrom(const std::vector<Element>& elements, size_t ei, const std::string& name,
               size_t ni) {
    if (ei == elements.size()) {
        return ni == name.size();
    }
    const Element& e = elements[ei];
    // Take as many as the element allows, then give back one at a time.
    size_t taken = 0;
    while (ni + taken < name.size() && (e.unbounded || taken < 1) && takes(e, name[ni + taken])) {
        ++taken;
    }
    for (size_t n = taken + 1; n-- > e.minCount;) {
        if (matchFrom(elements, ei + 1, name, ni + n)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool matchesVisaExpression(const std::string& expression, const std::string& name) {
    auto elements = compile(expression);
    return elements && matchFrom(*elements, 0, name, 0);
}

}  // namespace tarvo
