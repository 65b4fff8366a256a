// The request text: request line and standard headers (state 2).  The
// credentials and the closing blank line are added by HTTPClient_Authorize.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "httpclient_internal.h"

namespace {

const char kExpires[] = "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\n";
const char kAcceptRtsp[] = "Accept: application/x-rtsp-tunnelled\r\n";
const char kAcceptHldm[] = "Accept: application/x-hldm-tunnelled\r\n";
const char kTypeRtsp[] = "Content-Type: application/x-rtsp-tunnelled\r\n";
const char kTypeHldm[] = "Content-Type: application/x-hldm-tunnelled\r\n";

// Dotted-quad text of an address in network order.
void DottedQuad(uint32_t dwAddress, char szOut[16]) {
    struct in_addr tAddr;
    tAddr.s_addr = dwAddress;
    if (inet_ntop(AF_INET, &tAddr, szOut, 16) == nullptr) szOut[0] = '\0';
}

}  // namespace

void HTTPClient_AppendF(char *szText, uint32_t dwSize, const char *szFormat, ...) {
    size_t used = strnlen(szText, dwSize);
    if (used + 1 >= dwSize) return;
    va_list args;
    va_start(args, szFormat);
    vsnprintf(szText + used, dwSize - used, szFormat, args);
    va_end(args);
}

extern "C" uint32_t HTTPClient_ComposeRequest(HTTPClientContext *ptClient) {
    char *szReq = ptClient->szRequest;
    const uint32_t dwBound = HTTPCLIENT_TEXT_MAX;  // text stays within 1279 characters
    memset(szReq, 0, sizeof(ptClient->szRequest));

    const bool bTunnel = ptClient->dwRtspTunnel == 1 || ptClient->dwHldmTunnel == 1;
    const char *szVersion = bTunnel ? "HTTP/1.0" : "HTTP/1.1";
    const bool bGet = ptClient->dwMethod == HTTPCLIENT_METHOD_GET;
    const char *szMethod = bGet ? "GET" : "POST";
    if (ptClient->dwMethod != HTTPCLIENT_METHOD_GET && ptClient->dwMethod != HTTPCLIENT_METHOD_POST)
        return 0xFFFFFFFFu;

    char szServerDotted[16];
    DottedQuad(ptClient->tServer.dwAddress, szServerDotted);

    // 1. Request line.
    if (ptClient->dwUseProxy == 1)
        HTTPClient_AppendF(szReq, dwBound, "%s http://%s:%d%s %s\r\n", szMethod, szServerDotted,
                           static_cast<int>(ptClient->tServer.dwPort), ptClient->szURI, szVersion);
    else
        HTTPClient_AppendF(szReq, dwBound, "%s %s %s\r\n", szMethod, ptClient->szURI, szVersion);

    if (ptClient->szExtraHeader[0] != '\0') {
        // 2. The caller's header block replaces every standard header.
        size_t lineLength = strlen(szReq);
        size_t extraLength = strlen(ptClient->szExtraHeader);
        if (lineLength + extraLength >= HTTPCLIENT_TEXT_MAX) return HTTPCLIENT_E_REQUEST_TOO_LONG;
        bool bEndsInCrLf = extraLength >= 2 && ptClient->szExtraHeader[extraLength - 2] == '\r' &&
                           ptClient->szExtraHeader[extraLength - 1] == '\n';
        HTTPClient_AppendF(szReq, dwBound, bEndsInCrLf ? "%s" : "%s\r\n", ptClient->szExtraHeader);
    } else {
        // 3, 4. Accept and tunnel headers.
        if (ptClient->dwRtspTunnel != 0) {
            if (bGet) {
                if (ptClient->dwRtspTunnel == 1)
                    HTTPClient_AppendF(szReq, dwBound, "%s", kAcceptRtsp);
                else if (ptClient->dwHldmTunnel == 1)
                    HTTPClient_AppendF(szReq, dwBound, "%s", kAcceptHldm);
            } else {
                if (ptClient->dwRtspTunnel == 1)
                    HTTPClient_AppendF(szReq, dwBound, "%s%s", kTypeRtsp, kExpires);
                else {
                    if (ptClient->dwHldmTunnel == 1) HTTPClient_AppendF(szReq, dwBound, "%s", kTypeHldm);
                    HTTPClient_AppendF(szReq, dwBound, "%s", kExpires);
                }
            }
            HTTPClient_AppendF(szReq, dwBound, "x-sessioncookie: %s\r\n", ptClient->szSessionCookie);
        } else if (ptClient->dwHldmTunnel == 0) {
            HTTPClient_AppendF(szReq, dwBound, "Accept: */*\r\n");
        } else {
            if (bGet) {
                if (ptClient->dwHldmTunnel == 1) HTTPClient_AppendF(szReq, dwBound, "%s", kAcceptHldm);
            } else {
                if (ptClient->dwHldmTunnel == 1) HTTPClient_AppendF(szReq, dwBound, "%s", kTypeHldm);
                HTTPClient_AppendF(szReq, dwBound, "%s", kExpires);
            }
            HTTPClient_AppendF(szReq, dwBound, "x-sessioncookie: %s\r\n", ptClient->szSessionCookie);
        }
        // 5. Content-Type.
        if (ptClient->dwRtspTunnel == 0 && ptClient->dwHldmTunnel == 0 && ptClient->szContentType[0] != '\0')
            HTTPClient_AppendF(szReq, dwBound, "Content-Type: %s\r\n", ptClient->szContentType);
        // 6. Host.
        const char *szHost = ptClient->tServer.szHost[0] != '\0' ? ptClient->tServer.szHost : szServerDotted;
        if (ptClient->tServer.dwPort == 80)
            HTTPClient_AppendF(szReq, dwBound, "Host: %s\r\n", szHost);
        else
            HTTPClient_AppendF(szReq, dwBound, "Host: %s:%d\r\n", szHost, static_cast<int>(ptClient->tServer.dwPort));
        // 7. User-Agent.
        if (ptClient->szUserAgent[0] != '\0')
            HTTPClient_AppendF(szReq, dwBound, "User-Agent: %s\r\n", ptClient->szUserAgent);
        else
            HTTPClient_AppendF(szReq, dwBound, "User-Agent: HLDM (ver=%d.%d.%d.%d)\r\n", HTTPCLIENT_VERSION_MAJOR,
                               HTTPCLIENT_VERSION_MINOR, HTTPCLIENT_VERSION_BUILD, HTTPCLIENT_VERSION_BUILD);
        // 8, 9. Caching and Referer.
        HTTPClient_AppendF(szReq, dwBound, "Pragma: no-cache\r\nCache-Control: no-cache\r\n");
        if (ptClient->szReferer[0] != '\0')
            HTTPClient_AppendF(szReq, dwBound, "Referer: %s\r\n", ptClient->szReferer);
        // 10. Connection.
        if (ptClient->dwKeepAlive == 1) {
            HTTPClient_AppendF(szReq, dwBound, "Connection: Keep-Alive\r\n");
            if (ptClient->dwUseProxy == 1) HTTPClient_AppendF(szReq, dwBound, "Proxy-Connection: Keep-Alive\r\n");
        } else {
            HTTPClient_AppendF(szReq, dwBound, "Connection: close\r\n");
        }
        // 11. Content length of a POST; a tunnel POST announces a long stream.
        if (!bGet) {
            if (bTunnel)
                HTTPClient_AppendF(szReq, dwBound, "Content-Length: %d\r\n", 32767);
            else
                HTTPClient_AppendF(szReq, dwBound, "Content-Length: %d\r\n", static_cast<int>(ptClient->dwBodyLength));
        }
    }

    // 12. Ready for the credentials.
    ptClient->dwRequestSent = 0;
    memset(ptClient->szHeaderBuffer, 0, sizeof(ptClient->szHeaderBuffer));
    ptClient->dwState = HTTPCLIENT_STATE_AUTHORIZE;
    return HTTPCLIENT_OK;
}
