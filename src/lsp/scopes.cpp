// The language's scope rules over the compiler's record of names (see
// scopes.hpp).
#include "lsp/scopes.hpp"

#include <algorithm>

#include "lsp/describe.hpp"

SourcePos scope_end(const Declaration& routine) {
    return routine.code_last < 0 ? SOURCE_END : routine.end;
}

std::vector<int> routines_around(const Document& doc, SourcePos at) {
    std::vector<int> found;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i) {
        const Declaration& d = decls[i];
        if (is_routine(d) && !before(at, doc.name_pos[i]) && !before(scope_end(d), at))
            found.push_back(static_cast<int>(i));
    }
    // Declared in order, each routine after the one holding it.
    std::reverse(found.begin(), found.end());
    return found;
}

int scope_depth(const Document& doc, int index) {
    int depth = -1;
    for (int p = declaration(doc, index).parent; p >= 0; p = declaration(doc, p).parent)
        ++depth;
    return depth;
}

bool in_scope(const Document& doc, int index, SourcePos at) {
    const Declaration& d = declaration(doc, index);
    if (d.parent < 0 || !before(doc.name_pos[static_cast<std::size_t>(index)], at)) return false;
    const Declaration& holder = declaration(doc, d.parent);
    return !before(at, doc.name_pos[static_cast<std::size_t>(d.parent)]) &&
           !before(scope_end(holder), at);
}

std::vector<int> visible_at(const Document& doc, SourcePos at) {
    std::vector<int> known;
    const auto& decls = doc.compiled.declarations;
    for (std::size_t i = 0; i < decls.size(); ++i)
        if (in_scope(doc, static_cast<int>(i), at)) known.push_back(static_cast<int>(i));
    // Innermost first; in one scope, in the order declared.
    std::stable_sort(known.begin(), known.end(),
                     [&](int a, int b) { return scope_depth(doc, a) > scope_depth(doc, b); });
    std::vector<int> visible;
    for (int d : known) {
        bool hidden = std::any_of(visible.begin(), visible.end(), [&](int v) {
            return declaration(doc, v).name == declaration(doc, d).name;
        });
        if (!hidden) visible.push_back(d);
    }
    return visible;
}

int resolve(const Document& doc, std::string_view name, SourcePos at) {
    for (int d : visible_at(doc, at))
        if (declaration(doc, d).name == name) return d;
    return -1;
}
