#pragma once

// What the commissioning page's server lets through, decided without sockets: a page that can
// rewrite a building's intercom must answer only the browser tab that callpanel itself opened.
// Every request carries the run's secret (in the query, or in the cookie set from it); its Host
// names the listening address exactly (a name that resolves there by DNS rebinding does not);
// a browser's Origin, when given, is the page's own; changes come only by POST, never on the
// view-only listener; bodies are bounded.

#include <cstddef>
#include <string>

// The largest body a request may carry: a schedule or plan of the size apply reads.
inline constexpr std::size_t MaxBodyBytes = std::size_t(4) << 20;

struct GuardConfig {
    std::string Host;   // "127.0.0.1:8123": the address and port listened on
    std::string Secret; // hex digits; the cookie carries it under CookieName
    bool ViewOnly = false;
};

struct RequestFacts {
    std::string Method;
    std::string Host, Origin, Cookie; // headers; empty when absent
    std::string Key;                  // the query's key parameter
    bool HasKey = false;
    std::size_t BodyBytes = 0; // as Content-Length says
};

struct Verdict {
    int Status = 0;         // 0: let through; otherwise the HTTP status that refuses it
    std::string Reason;     // for the terminal and the page's log
    bool SetCookie = false; // the secret came in the query: the response sets the cookie
};

// The cookie's name: one per port, since browsers share cookies across the ports of a host.
std::string CookieName(const std::string& host);
// The Set-Cookie header value that carries the secret: HttpOnly, SameSite=Strict, this path.
std::string SecretCookie(const GuardConfig& config);

Verdict Judge(const RequestFacts& request, const GuardConfig& config);

// Equal strings, compared in a time that does not depend on where they first differ.
bool SameSecret(const std::string& given, const std::string& secret);
