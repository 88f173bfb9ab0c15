// JSON-RPC dispatch of the protocol's messages (see server.hpp).
#include "lsp/server.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "lsp/calls.hpp"
#include "lsp/documents.hpp"
#include "lsp/features.hpp"
#include "lsp/fixes.hpp"
#include "lsp/formatting.hpp"
#include "lsp/names.hpp"
#include "lsp/tokens.hpp"
#include "version.hpp"

using nlohmann::json;

ServerState server;

namespace {

// JSON-RPC and protocol error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int SERVER_NOT_INITIALIZED = -32002;
constexpr int REQUEST_FAILED = -32803;

constexpr int TEXT_DOCUMENT_SYNC_FULL = 1;

// A message as text; invalid UTF-8 (none should get here) is replaced.
std::string framed(const json& message) {
    return frame(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

std::string response(const json& id, json result) {
    return framed(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

std::string error_response(const json& id, int code, const std::string& message) {
    return framed(
        json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

std::string publish(const std::string& uri, const Document* doc) {
    json params{{"uri", uri}, {"diagnostics", doc != nullptr ? diagnostics(*doc) : json::array()}};
    if (doc != nullptr) params["version"] = doc->version;
    return framed(json{
        {"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", params}});
}

json capabilities() {
    return json{{"capabilities",
                 {{"textDocumentSync", TEXT_DOCUMENT_SYNC_FULL},
                  {"documentSymbolProvider", true},
                  {"definitionProvider", true},
                  {"hoverProvider", true},
                  {"codeLensProvider", {{"resolveProvider", false}}},
                  {"completionProvider", json::object()},
                  {"referencesProvider", true},
                  {"documentHighlightProvider", true},
                  {"renameProvider", {{"prepareProvider", true}}},
                  {"signatureHelpProvider", {{"triggerCharacters", {"(", ","}}}},
                  {"foldingRangeProvider", true},
                  {"semanticTokensProvider", {{"legend", semantic_token_legend()}, {"full", true}}},
                  {"inlayHintProvider", true},
                  {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
                  {"documentFormattingProvider", true},
                  {"documentRangeFormattingProvider", true}}},
                {"serverInfo", {{"name", "tsumiki-lsp"}, {"version", tsumiki_version}}}};
}

const std::string& document_uri(const json& params) {
    return params.at("textDocument").at("uri").get_ref<const std::string&>();
}

// An integer of a message, held to a range where no sum overflows (the
// library's own conversion of a float or a large number to int is not
// safe).
int integer(const json& value) {
    constexpr std::int64_t LIMIT = 1 << 30;
    if (!value.is_number_integer()) throw std::invalid_argument("an integer was expected");
    std::int64_t n =
        value.is_number_unsigned()
            ? static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), LIMIT))
            : value.get<std::int64_t>();
    return static_cast<int>(std::clamp(n, -LIMIT, LIMIT));
}

int version_of(const json& document) {
    auto v = document.find("version");
    return v != document.end() && v->is_number_integer() ? integer(*v) : 0;
}

// A position as the protocol writes it: {"line", "character"}.
LspPosition point(const json& p) {
    return LspPosition{integer(p.at("line")), integer(p.at("character"))};
}

LspPosition position_of(const json& params) {
    return point(params.at("position"));
}

// The start and the end of a request's range.
struct LspRange {
    LspPosition start, end;
};

LspRange range_of(const json& params) {
    const json& range = params.at("range");
    return LspRange{point(range.at("start")), point(range.at("end"))};
}

// The open document a request names, or null.
const Document* open_document(const json& params) {
    auto it = documents.find(document_uri(params));
    return it == documents.end() ? nullptr : &it->second;
}

// Notifications: what they cause to be sent.
std::string notification(const std::string& method, const json& params) {
    if (method == "exit") {
        server.exited = true;
        server.exit_status = server.shutdown_requested ? 0 : 1;
        return "";
    }
    if (!server.initialized || server.shutdown_requested) return "";
    if (method == "textDocument/didOpen") {
        const json& item = params.at("textDocument");
        const std::string& uri = item.at("uri").get_ref<const std::string&>();
        const Document& doc =
            update_document(uri, item.at("text").get<std::string>(), version_of(item));
        return publish(uri, &doc);
    }
    if (method == "textDocument/didChange") {
        const std::string& uri = document_uri(params);
        const json& changes = params.at("contentChanges");
        if (!changes.is_array() || changes.empty()) return "";
        // Full sync: the last change holds the whole text.
        const Document& doc = update_document(uri, changes.back().at("text").get<std::string>(),
                                              version_of(params.at("textDocument")));
        return publish(uri, &doc);
    }
    if (method == "textDocument/didClose") {
        const std::string& uri = document_uri(params);
        documents.erase(uri);
        return publish(uri, nullptr);
    }
    return ""; // "initialized", "$/..." and the rest need nothing
}

// Requests: their result, or an error response.
std::string request(const json& id, const std::string& method, const json& params) {
    if (method == "initialize") {
        if (server.initialized)
            return error_response(id, INVALID_REQUEST, "initialize was sent twice");
        server.initialized = true;
        return response(id, capabilities());
    }
    if (!server.initialized)
        return error_response(id, SERVER_NOT_INITIALIZED, "initialize comes first");
    if (server.shutdown_requested)
        return error_response(id, INVALID_REQUEST, "the server is shutting down");
    if (method == "shutdown") {
        server.shutdown_requested = true;
        return response(id, nullptr);
    }
    if (method == "textDocument/documentSymbol") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? document_symbols(*doc) : json(nullptr));
    }
    if (method == "textDocument/definition") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr
                                ? definition(*doc, document_uri(params), position_of(params))
                                : json(nullptr));
    }
    if (method == "textDocument/hover") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? hover(*doc, position_of(params)) : json(nullptr));
    }
    if (method == "textDocument/codeLens") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? code_lenses(*doc) : json(nullptr));
    }
    if (method == "textDocument/completion") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? completion(*doc, position_of(params)) : json(nullptr));
    }
    if (method == "textDocument/references") {
        const Document* doc = open_document(params);
        auto context = params.find("context");
        bool declaration = context != params.end() && context->is_object() &&
                           context->value("includeDeclaration", false);
        return response(id, doc != nullptr ? references(*doc, document_uri(params),
                                                        position_of(params), declaration)
                                           : json(nullptr));
    }
    if (method == "textDocument/documentHighlight") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? document_highlights(*doc, position_of(params))
                                           : json(nullptr));
    }
    if (method == "textDocument/prepareRename") {
        const Document* doc = open_document(params);
        return response(id,
                        doc != nullptr ? prepare_rename(*doc, position_of(params)) : json(nullptr));
    }
    if (method == "textDocument/rename") {
        const Document* doc = open_document(params);
        if (doc == nullptr) return response(id, nullptr);
        RenameAnswer answer = rename(*doc, document_uri(params), position_of(params),
                                     params.at("newName").get<std::string>());
        if (!answer.refusal.empty()) return error_response(id, REQUEST_FAILED, answer.refusal);
        return response(id, std::move(answer.edit));
    }
    if (method == "textDocument/signatureHelp") {
        const Document* doc = open_document(params);
        return response(id,
                        doc != nullptr ? signature_help(*doc, position_of(params)) : json(nullptr));
    }
    if (method == "textDocument/foldingRange") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? folding_ranges(*doc) : json(nullptr));
    }
    if (method == "textDocument/semanticTokens/full") {
        const Document* doc = open_document(params);
        return response(id, doc != nullptr ? semantic_tokens(*doc) : json(nullptr));
    }
    if (method == "textDocument/inlayHint") {
        const Document* doc = open_document(params);
        if (doc == nullptr) return response(id, nullptr);
        LspRange range = range_of(params);
        return response(id, inlay_hints(*doc, range.start, range.end));
    }
    if (method == "textDocument/codeAction") {
        const Document* doc = open_document(params);
        if (doc == nullptr) return response(id, nullptr);
        LspRange range = range_of(params);
        return response(id, code_actions(*doc, document_uri(params), range.start, range.end));
    }
    if (method == "textDocument/formatting") {
        const Document* doc = open_document(params);
        if (doc == nullptr) return response(id, nullptr);
        FormatAnswer answer = format_document(*doc);
        if (!answer.refusal.empty()) return error_response(id, REQUEST_FAILED, answer.refusal);
        return response(id, std::move(answer.edits));
    }
    if (method == "textDocument/rangeFormatting") {
        const Document* doc = open_document(params);
        if (doc == nullptr) return response(id, nullptr);
        LspRange range = range_of(params);
        FormatAnswer answer = format_range(*doc, range.start, range.end);
        if (!answer.refusal.empty()) return error_response(id, REQUEST_FAILED, answer.refusal);
        return response(id, std::move(answer.edits));
    }
    return error_response(id, METHOD_NOT_FOUND, "unknown method: " + method);
}

} // namespace

std::string handle_message(std::string_view body) {
    json message;
    BodyStatus status = parse_body(body, message);
    if (status == BodyStatus::not_json)
        return error_response(nullptr, PARSE_ERROR, "the message is not JSON");
    if (!message.is_object())
        return error_response(nullptr, INVALID_REQUEST, "a message is an object");
    auto method = message.find("method");
    auto id = message.find("id");
    bool has_id = id != message.end() && (id->is_number_integer() || id->is_string());
    // Answered even as a notification: it may have been meant as a request
    // whose id was too deep to keep.
    if (status == BodyStatus::too_deep)
        return error_response(has_id ? *id : json(nullptr), INVALID_REQUEST,
                              "the message " + too_deep_text());
    if (method == message.end() || !method->is_string()) {
        // A response to a request of ours (none are sent), or no message.
        if (message.contains("result") || message.contains("error")) return "";
        return error_response(has_id ? *id : json(nullptr), INVALID_REQUEST,
                              "a request needs a method");
    }
    const std::string& name = method->get_ref<const std::string&>();
    static const json no_params = json::object();
    auto p = message.find("params");
    const json& params = p != message.end() ? *p : no_params;
    try {
        if (id == message.end()) return notification(name, params);
        if (!has_id)
            return error_response(nullptr, INVALID_REQUEST, "an id is a number or a string");
        return request(*id, name, params);
    } catch (const std::exception& e) {     // the library's, or integer()'s
        if (id == message.end()) return ""; // notifications are never answered
        return error_response(*id, INVALID_PARAMS, e.what());
    }
}

std::string handle_bad_frame(FrameStatus status) {
    if (status == FrameStatus::too_large)
        return error_response(nullptr, INVALID_REQUEST,
                              "the message is longer than the server takes");
    return error_response(nullptr, PARSE_ERROR, "a header without a valid Content-Length");
}

void reset_server() {
    documents.clear();
    server = ServerState{};
}
