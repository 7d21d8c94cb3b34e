#include "tests/wine/pty_peer.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A Linux path as Wine's Z: drive shows it.
std::wstring DrivePath(const std::string& UnixPath)
{
    std::wstring path = L"Z:" + Wide(UnixPath);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

}  // namespace

TPtyPeer::TPtyPeer() : fConnection(INVALID_SOCKET)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

TPtyPeer::~TPtyPeer()
{
    if (fConnection != INVALID_SOCKET) closesocket(fConnection);  // the peer ends
    WSACleanup();
}

std::string TPtyPeer::Start(int Number)
{
    const char* dir = std::getenv("SPECTRO_WINE_DIR");
    if (!dir) return "SPECTRO_WINE_DIR is not set (run through scripts/wine-run)";
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return "no loopback socket";
    }
    // Wine runs a Linux program named by its Z: path; it gets no process handle.
    std::wstring command = DrivePath(PEER_PYTHON) + L" " + Wide(PEER_SCRIPT) + L" " +
                           std::to_wstring(ntohs(address.sin_port)) + L" " + Wide(dir) + L"/ports/COM" +
                           std::to_wstring(Number);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        closesocket(listener);
        return "cannot start the pty peer: error " + std::to_string(GetLastError());
    }
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener, &ready);
    timeval timeout{30, 0};
    if (select(0, &ready, nullptr, nullptr, &timeout) == 1) fConnection = accept(listener, nullptr, nullptr);
    closesocket(listener);
    return fConnection != INVALID_SOCKET ? std::string() : "the pty peer did not connect";
}

bool TPtyPeer::SendAll(const char* Data, size_t Count)
{
    while (Count > 0) {
        const int n = send(fConnection, Data, static_cast<int>(Count < 65536 ? Count : 65536), 0);
        if (n <= 0) return false;
        Data += n;
        Count -= static_cast<size_t>(n);
    }
    return true;
}

bool TPtyPeer::Write(const std::string& Bytes)
{
    const uint32_t n = static_cast<uint32_t>(Bytes.size());
    char message[5] = {'W'};
    memcpy(message + 1, &n, 4);
    return SendAll(message, sizeof message) && SendAll(Bytes.data(), Bytes.size());
}

std::string TPtyPeer::Read(uint32_t Count, uint32_t Ms)
{
    char message[9] = {'R'};
    memcpy(message + 1, &Count, 4);
    memcpy(message + 5, &Ms, 4);
    if (!SendAll(message, sizeof message)) return std::string();
    auto receive = [&](char* Into, size_t Want) {
        while (Want > 0) {
            const int n = recv(fConnection, Into, static_cast<int>(Want), 0);
            if (n <= 0) return false;
            Into += n;
            Want -= static_cast<size_t>(n);
        }
        return true;
    };
    uint32_t got = 0;
    if (!receive(reinterpret_cast<char*>(&got), 4)) return std::string();
    std::string data(got, '\0');
    if (!receive(data.data(), got)) return std::string();
    return data;
}

bool TPtyPeer::HangUp() { return SendAll("H", 1); }
