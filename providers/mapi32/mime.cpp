// The message in Internet format: headers (RFC 5322, non-ASCII words after
// RFC 2047), a quoted-printable UTF-8 text and base64 attachments (MIME).
#include "provider.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <unistd.h>

namespace mapi32 {
namespace {

bool IsPlainAscii(const std::string& text)
{
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x7f || (u < 0x20 && c != '\t')) {
            return false;
        }
    }
    return true;
}

// A display name as a phrase: as it is when it is made of plain words, quoted
// when it holds specials, encoded words when it is not ASCII.
std::string Phrase(const std::string& name)
{
    if (!IsPlainAscii(name)) {
        return EncodedWords(name);
    }
    bool plain = !name.empty();
    for (char c : name) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == ' ' ||
                          std::string("!#$%&'*+-/=?^_`{|}~").find(c) != std::string::npos;
        plain = plain && word;
    }
    if (plain) {
        return name;
    }
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string Mailbox(const Address& address)
{
    if (address.name.empty()) {
        return address.address;
    }
    return Phrase(address.name) + " <" + address.address + ">";
}

std::string AddressList(const std::vector<Address>& list)
{
    std::string joined;
    for (const Address& address : list) {
        joined += (joined.empty() ? "" : ",\r\n ") + Mailbox(address);
    }
    return joined;
}

std::string Date()
{
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const long offset = local.tm_gmtoff / 60;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld",
                  days[local.tm_wday], local.tm_mday, months[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return buffer;
}

std::string RandomHex(int bytes)
{
    std::random_device device;
    std::string hex;
    for (int i = 0; i < bytes; ++i) {
        char buffer[3];
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned>(device() & 0xff));
        hex += buffer;
    }
    return hex;
}

std::string HostName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) {
        return "localhost";
    }
    return host;
}

// CR LF for every line end, whichever the text had (a lone CR or LF included).
std::string WithCrLf(const std::string& text)
{
    std::string result;
    result.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            result += "\r\n";
        } else if (text[i] == '\n') {
            result += "\r\n";
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string ContentType(const std::string& name)
{
    static const std::pair<const char*, const char*> types[] = {
        {".txt", "text/plain"}, {".pdf", "application/pdf"}, {".png", "image/png"},
        {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},     {".gif", "image/gif"},
        {".tif", "image/tiff"}, {".tiff", "image/tiff"},     {".zip", "application/zip"},
        {".html", "text/html"}, {".csv", "text/csv"},        {".xml", "application/xml"},
    };
    const std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos) {
        std::string extension = name.substr(dot);
        for (char& c : extension) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        for (const auto& [ending, type] : types) {
            if (extension == ending) {
                return type;
            }
        }
    }
    return "application/octet-stream";
}

// A file name parameter: quoted when plain ASCII, else RFC 2231 percent-encoded UTF-8.
std::string FileNameParameter(const char* parameter, const std::string& name)
{
    bool plain = IsPlainAscii(name);
    for (char c : name) {
        plain = plain && c != '"' && c != '\\';
    }
    if (plain) {
        return std::string(parameter) + "=\"" + name + "\"";
    }
    std::string encoded = std::string(parameter) + "*=UTF-8''";
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-' || c == '_') {
            encoded += c;
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", u);
            encoded += buffer;
        }
    }
    return encoded;
}

} // namespace

std::string Base64(const std::string& data, std::size_t lineLength)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() / 3 * 4 + data.size() / 54 * 2 + 8);
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t left = data.size() - i;
        const unsigned a = static_cast<unsigned char>(data[i]);
        const unsigned b = left > 1 ? static_cast<unsigned char>(data[i + 1]) : 0;
        const unsigned c = left > 2 ? static_cast<unsigned char>(data[i + 2]) : 0;
        const unsigned triple = (a << 16) | (b << 8) | c;
        out += alphabet[(triple >> 18) & 63];
        out += alphabet[(triple >> 12) & 63];
        out += left > 1 ? alphabet[(triple >> 6) & 63] : '=';
        out += left > 2 ? alphabet[triple & 63] : '=';
        column += 4;
        if (lineLength && column >= lineLength && i + 3 < data.size()) {
            out += "\r\n";
            column = 0;
        }
    }
    return out;
}

std::string QuotedPrintable(const std::string& text)
{
    const std::string lines = WithCrLf(text);
    std::string out;
    std::size_t column = 0;
    auto put = [&](const std::string& piece) {
        // Soft line break so that no line is longer than 76 characters.
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(lines[i]);
        if (c == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n') {
            out += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        const bool lineEndFollows = i + 1 == lines.size() || lines[i + 1] == '\r';
        const bool literal =
            (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEndFollows);
        // A '.' or "From " at the start of a line survives every transport encoded.
        const bool lineStart = column == 0;
        if (literal &&
            !(lineStart && (c == '.' || (c == 'F' && lines.compare(i, 5, "From ") == 0)))) {
            put(std::string(1, static_cast<char>(c)));
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "=%02X", c);
            put(buffer);
        }
    }
    return out;
}

std::string EncodedWords(const std::string& text)
{
    if (IsPlainAscii(text)) {
        return text;
    }
    // Each word holds at most 39 bytes (52 base64 characters, 64 with the frame, so
    // that even the first line, after "Subject: ", stays within 76), cut between
    // characters, never inside one.
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.size(), start + 39);
        while (end < text.size() && end > start &&
               (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        if (end == start) {
            end = std::min(text.size(), start + 39);
        }
        out += (out.empty() ? "" : "\r\n ") + std::string("=?UTF-8?B?") +
               Base64(text.substr(start, end - start), 0) + "?=";
        start = end;
    }
    return out;
}

std::string BuildMessage(const Mail& mail, bool withBcc)
{
    std::string message;
    message += "From: " + Mailbox(mail.from) + "\r\n";
    if (!mail.to.empty()) {
        message += "To: " + AddressList(mail.to) + "\r\n";
    }
    if (!mail.cc.empty()) {
        message += "Cc: " + AddressList(mail.cc) + "\r\n";
    }
    if (withBcc && !mail.bcc.empty()) {
        message += "Bcc: " + AddressList(mail.bcc) + "\r\n";
    }
    message += "Subject: " + EncodedWords(mail.subject) + "\r\n";
    message += "Date: " + Date() + "\r\n";
    message += "Message-ID: <" + RandomHex(12) + "@" + HostName() + ">\r\n";
    message += "MIME-Version: 1.0\r\n";
    const std::string textPart = "Content-Type: text/plain; charset=UTF-8\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                                 QuotedPrintable(mail.text);
    if (mail.attachments.empty()) {
        return message + textPart + "\r\n";
    }
    // Each delimiter line begins with its own CR LF, which belongs to it: the parts
    // end without one, so that the text arrives exactly as it was given.
    const std::string boundary = "=_zanth_" + RandomHex(12);
    message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    message += "This is a message in MIME format.\r\n";
    message += "\r\n--" + boundary + "\r\n" + textPart;
    for (const Attachment& attachment : mail.attachments) {
        message += "\r\n--" + boundary + "\r\n";
        message += "Content-Type: " + ContentType(attachment.name) + "; " +
                   FileNameParameter("name", attachment.name) + "\r\n";
        message += "Content-Transfer-Encoding: base64\r\n";
        message += "Content-Disposition: attachment; " +
                   FileNameParameter("filename", attachment.name) + "\r\n\r\n";
        message += Base64(attachment.data, 76);
    }
    message += "\r\n--" + boundary + "--\r\n";
    return message;
}

} // namespace mapi32
