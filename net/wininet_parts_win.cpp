#include "net/wininet_parts_win.h"

namespace tessaryn::wininet_parts {

Connection openConnection(const UrlParts& url, const std::string& userAgent, DWORD timeoutMs,
                          DWORD receiveTimeoutMs) {
    Connection opened;
    opened.session.reset(
        InternetOpenA(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!opened.session) return opened;
    HINTERNET session = opened.session.get();
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs,
                       sizeof(receiveTimeoutMs));
    InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &timeoutMs, sizeof(timeoutMs));
    opened.connection.reset(InternetConnectA(session, url.host.c_str(), url.port, nullptr,
                                             nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    return opened;
}

}  // namespace tessaryn::wininet_parts
