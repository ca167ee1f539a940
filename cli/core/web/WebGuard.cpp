#include "web/WebGuard.h"

#include <cctype>

namespace {

// The value of cookie `name` in a Cookie header ("a=1; b=2"); empty when it is absent.
std::string CookieValue(const std::string& header, const std::string& name) {
    std::size_t at = 0;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ';'))
            ++at;
        const std::size_t end = header.find(';', at);
        const std::string pair =
            header.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const std::size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.compare(0, equals, name) == 0 &&
            equals == name.size())
            return pair.substr(equals + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool SameSecret(const std::string& given, const std::string& secret) {
    unsigned difference = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^
                      static_cast<unsigned char>(secret[i]);
    return difference == 0 && !secret.empty();
}

std::string CookieName(const std::string& host) {
    std::string name = "callpanel-";
    for (char c : host)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return name;
}

std::string SecretCookie(const GuardConfig& config) {
    return CookieName(config.Host) + "=" + config.Secret + "; Path=/; HttpOnly; SameSite=Strict";
}

Verdict Judge(const RequestFacts& request, const GuardConfig& config) {
    // The Host first: a page of another site that a DNS answer points here sends its own name.
    if (Lower(request.Host) != Lower(config.Host))
        return {403, "refused: the request names another host (" + request.Host + ")", false};
    const bool keyed = request.HasKey && SameSecret(request.Key, config.Secret);
    if (!keyed && !SameSecret(CookieValue(request.Cookie, CookieName(config.Host)), config.Secret))
        return {403, "refused: no key (open the address callpanel printed)", false};
    if (!request.Origin.empty() && Lower(request.Origin) != "http://" + Lower(config.Host))
        return {403, "refused: a request from another site (" + request.Origin + ")", false};
    if (request.Method == "POST") {
        if (config.ViewOnly) return {403, "refused: this page is view-only", false};
    } else if (request.Method != "GET" && request.Method != "HEAD") {
        return {405, "refused: method " + request.Method, false};
    }
    if (request.BodyBytes > MaxBodyBytes) return {413, "refused: a body over 4 MiB", false};
    return {0, "", keyed};
}
