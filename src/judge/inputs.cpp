#include "judge/inputs.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "driver/user_file.hpp"
#include "judge/text.hpp"

namespace fs = std::filesystem;

namespace {

const char* const PROGRAM = "tsumiki-judge";

bool has_suffix(const std::string& name, const std::string& suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

bool read_cases(const std::string& folder, std::vector<TestCase>& cases, std::string& error,
                bool outputs_needed) {
    std::error_code failed;
    fs::directory_iterator entries(folder, failed);
    if (failed) {
        error = say(MSG_J_CASES_UNREADABLE, {PROGRAM, folder});
        return false;
    }
    // NAME -> whether NAME.in and NAME.out are there.
    std::map<std::string, std::pair<bool, bool>> found;
    for (auto end = fs::directory_iterator(); entries != end; entries.increment(failed)) {
        if (failed) break;
        std::string name = entries->path().filename().string();
        bool input = has_suffix(name, ".in");
        if (!input && !has_suffix(name, ".out")) continue;
        if (entries->is_directory(failed)) continue;
        std::string stem = name.substr(0, name.size() - (input ? 3 : 4));
        (input ? found[stem].first : found[stem].second) = true;
    }
    if (failed) {
        error = say(MSG_J_CASES_UNREADABLE, {PROGRAM, folder});
        return false;
    }
    cases.clear();
    for (const auto& [name, files] : found) {
        fs::path base = fs::path(folder) / name;
        if (!files.second && outputs_needed) {
            error = say(MSG_J_INPUT_ALONE, {PROGRAM, base.string() + ".in"});
            return false;
        }
        TestCase c;
        c.name = name;
        // Each file opened once, a regular file inside the folder.
        for (bool input : {false, true}) {
            if (input ? !files.first : !files.second) continue;
            std::string path = base.string() + (input ? ".in" : ".out");
            FileRefusal refusal =
                read_user_file(path, CASE_BYTES, input ? c.input : c.expected, folder);
            if (refusal != FileRefusal::none) {
                error =
                    say(MSG_J_CASE_REFUSED, {PROGRAM, path, refusal_words(refusal, CASE_BYTES)});
                return false;
            }
        }
        cases.push_back(std::move(c));
    }
    if (cases.empty()) {
        error = say(MSG_J_NO_CASE, {PROGRAM, folder});
        return false;
    }
    return true;
}

bool find_submissions(const std::vector<std::string>& arguments,
                      std::vector<std::string>& submissions, std::string& error) {
    std::set<std::string> found;
    for (const std::string& argument : arguments) {
        std::error_code failed;
        fs::path path = fs::path(argument).lexically_normal();
        fs::file_status status = fs::status(path, failed);
        if (!fs::exists(status)) {
            error = say(MSG_J_SUBMISSION_MISSING, {PROGRAM, argument});
            return false;
        }
        if (!fs::is_directory(status)) {
            found.insert(path.string());
            continue;
        }
        fs::directory_iterator entries(path, failed);
        for (auto end = fs::directory_iterator(); !failed && entries != end;
             entries.increment(failed)) {
            std::string name = entries->path().filename().string();
            if (has_suffix(name, ".tsu") && !entries->is_directory(failed))
                found.insert(entries->path().lexically_normal().string());
        }
        if (failed) {
            error = say(MSG_J_SUBMISSION_MISSING, {PROGRAM, argument});
            return false;
        }
    }
    submissions.assign(found.begin(), found.end());
    return true;
}

void keep_share(std::vector<std::string>& items, unsigned k, unsigned n) {
    std::size_t count = items.size();
    std::size_t first = count * (k - 1) / n;
    std::size_t last = count * k / n;
    items = std::vector<std::string>(items.begin() + static_cast<std::ptrdiff_t>(first),
                                     items.begin() + static_cast<std::ptrdiff_t>(last));
}

std::string folder_holding(const std::string& submission, const std::vector<std::string>& folders) {
    if (submission.empty() || submission[0] == '/' || submission.find('\0') != std::string::npos)
        return {};
    fs::path name(submission);
    for (const fs::path& part : name)
        if (part == "..") return {};
    std::error_code failed;
    fs::path here = fs::current_path(failed);
    if (failed) return {};
    std::string place = (here / name).lexically_normal().string();
    for (const std::string& folder : folders) {
        if (folder.empty() || folder.find('\0') != std::string::npos) continue;
        std::string outer = (here / folder).lexically_normal().string();
        while (outer.size() > 1 && outer.back() == '/')
            outer.pop_back();
        if (place.size() > outer.size() && place.compare(0, outer.size(), outer) == 0 &&
            (place[outer.size()] == '/' || outer == "/"))
            return folder;
    }
    return {};
}
