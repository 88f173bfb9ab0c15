// Numbering, framing and writing the adapter's messages (channel.hpp).
#include "dap/channel.hpp"

#include "lsp/transport.hpp"

std::string command_of(const json& request) {
    if (!request.is_object()) return "";
    auto it = request.find("command");
    return it != request.end() && it->is_string() ? it->get<std::string>() : "";
}

long long seq_of(const json& request) {
    if (!request.is_object()) return 0;
    auto it = request.find("seq");
    return it != request.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

std::string Channel::text(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Channel::respond(const json& request, json body) {
    json message{{"type", "response"},
                 {"request_seq", seq_of(request)},
                 {"command", command_of(request)},
                 {"success", true}};
    if (!body.is_null()) message["body"] = std::move(body);
    send(std::move(message));
}

void Channel::fail(const json& request, std::string_view text) {
    std::string why(text);
    send(json{{"type", "response"},
              {"request_seq", seq_of(request)},
              {"command", command_of(request)},
              {"success", false},
              {"message", why},
              {"body", {{"error", {{"id", 1}, {"format", why}, {"showUser", true}}}}}});
}

void Channel::event(std::string_view name, json body) {
    json message{{"type", "event"}, {"event", std::string(name)}};
    if (!body.is_null()) message["body"] = std::move(body);
    send(std::move(message));
}

bool Channel::broken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return broken_;
}

void Channel::send(json message) {
    std::lock_guard<std::mutex> lock(mutex_);
    message["seq"] = seq_++;
    if (!broken_ && !write_(frame(text(message)))) broken_ = true;
}
