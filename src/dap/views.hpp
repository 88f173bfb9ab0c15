// What a stop shows an editor: the call stack, each frame's scopes (its
// own names, each enclosing routine's, the machine), their variables, the
// value of an expression and the listing, as the protocol's bodies.
//
// Scopes and arrays are reached through variablesReference numbers that
// hold only while the program stays stopped: Views::clear() forgets them
// at every motion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dap/channel.hpp"
#include "debug/session.hpp"

class Views {
  public:
    explicit Views(const DebugSession& session) : session_(session) {}

    // Where the protocol counts lines and columns from (1 unless the
    // client said otherwise) and the program's path, for `source`.
    void set_origin(bool lines_from_1, bool columns_from_1, std::string path);
    int line_out(int line) const { return lines_from_1_ ? line : line - 1; }
    int line_in(int line) const { return lines_from_1_ ? line : line + 1; }
    json source() const;
    // Sets line, column, endLine and endColumn of `object` to where the
    // instruction of `place` stands: the range it computes, or its place
    // when it has no range.
    void put_place(json& object, const Place& place) const;

    void clear() { refs_.clear(); }

    json stack_trace(const json& arguments) const;
    json scopes(int frame);
    // False when the reference is none of this stop's.
    bool variables(long long reference, const json& arguments, json& body);
    // False with `body` holding the reason's text.
    bool evaluate(const std::string& expression, int frame, json& body);
    json disassemble(long long first, long long count) const;

    // One instruction as the listing writes it: "LOD(1,3)".
    static std::string instruction_text(const Instruction& in);

  private:
    enum class RefKind : unsigned char { scope, array, machine, cells };
    struct Ref {
        RefKind kind;
        int frame = 0;
        int scope = 0;
        NameValue name{};
    };
    long long add(Ref ref);
    json variable(const NameValue& name, const std::vector<Frame>& frames, bool enclosing);
    json elements(const NameValue& array, long long start, long long count) const;
    json cells(long long start, long long count) const;
    std::string routine_name(int routine) const;
    std::string cell_text(std::int32_t cell, const std::vector<Frame>& frames) const;
    std::string var_target(const NameValue& name, const std::vector<Frame>& frames) const;

    const DebugSession& session_;
    std::vector<Ref> refs_;
    bool lines_from_1_ = true;
    bool columns_from_1_ = true;
    std::string path_;
};

// A message of the table in UTF-8, its %s filled with `argument`.
std::string message_text(Msg id, const std::string& argument = "");
