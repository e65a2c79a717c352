// libFuzzer target for what is read out of a popup and written into JSON, and
// for the logon session out of a service window station's name. Input: the
// popup's data strings as UTF-16LE, separated by a zero unit, each also taken
// as a station's name; the first byte also sizes the JSON buffer. Each result is judged against rules
// stated here independently of the code.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "desktop_holders.h"
#include "heap_events.h"
#include "wide_text.h"

static void Broken(const char *pszRule)
{
    fprintf(stderr, "Broken: %s\n", pszRule);
    abort();
}

static WideString Lower(WideString text)
{
    for (WideChar &ch : text)
        ch = ch >= 'A' && ch <= 'Z' ? static_cast<WideChar>(ch + 32) : ch;
    return text;
}

// The JSON contents read back: every escape undone, or "!" where the text
// holds what JSON does not allow.
static WideString Unescape(const WideString &json)
{
    WideString text;
    for (size_t i = 0; i < json.size(); i++) {
        if (json[i] < 0x20 || json[i] == '"')
            return Widen("!");
        if (json[i] != '\\') {
            text += json[i];
        } else if (i + 1 < json.size() && (json[i + 1] == '"' || json[i + 1] == '\\')) {
            text += json[++i];
        } else if (i + 5 < json.size() && json[i + 1] == 'u') {
            text += static_cast<WideChar>(strtoul(Narrow(json.substr(i + 2, 4)).c_str(), NULL, 16));
            i += 5;
        } else {
            return Widen("!");
        }
    }
    return text;
}

// A service station's name is Service-0x, one to eight hexadecimal digits,
// "-", one to eight more and "$", in any letter case.
static bool IsServiceStation(const WideString &name, LogonId *pLogon)
{
    const WideString lower = Lower(name), prefix = Widen("service-0x");
    size_t dash = lower.find('-', prefix.size());
    if (lower.compare(0, prefix.size(), prefix) != 0 || dash == WideString::npos || lower.back() != '$')
        return false;
    const WideString high = lower.substr(prefix.size(), dash - prefix.size());
    const WideString low = lower.substr(dash + 1, lower.size() - dash - 2);
    for (const WideString &part : {high, low}) {
        if (part.empty() || part.size() > 8 || part.find_first_not_of(Widen("0123456789abcdef")) != WideString::npos)
            return false;
    }
    pLogon->high = static_cast<uint32_t>(strtoul(Narrow(high).c_str(), NULL, 16));
    pLogon->low = static_cast<uint32_t>(strtoul(Narrow(low).c_str(), NULL, 16));
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t cchSmall = data[0] % 64 + 1;
    std::vector<WideString> strings(1);
    for (size_t i = 1; i + 1 < size; i += 2) {
        WideChar ch = static_cast<WideChar>(data[i] | data[i + 1] << 8);
        if (ch == 0)
            strings.push_back(WideString());
        else
            strings.back() += ch;
    }
    std::vector<const WideChar *> pointers;
    bool holdsStatus = false;
    for (const WideString &text : strings) {
        pointers.push_back(text.c_str());
        holdsStatus = holdsStatus || Lower(text).find(Widen("0xc0000142")) != WideString::npos;
    }

    WideChar szProgram[kProgramNameChars];
    if (ReadStartFailure(pointers.data(), pointers.size(), szProgram) != holdsStatus)
        Broken("a popup counts exactly when its data name 0xC0000142");
    const WideString program(szProgram), caption = strings[0];
    size_t dash = caption.rfind(Widen(" - "));
    bool shown = holdsStatus && dash != WideString::npos && dash > 0 && dash < kProgramNameChars;
    for (size_t i = 0; shown && i < dash; i++)
        shown = caption[i] >= 0x20;
    if (program != (shown ? caption.substr(0, dash) : WideString()))
        Broken("the program is what stands before the last \" - \", when it can be shown");

    for (const WideString &text : strings) {
        LogonId expected = {}, parsed = {}, again = {};
        bool isStation = IsServiceStation(text, &expected);
        if (ParseServiceStation(text.c_str(), &parsed) != isStation ||
            (isStation && (parsed.high != expected.high || parsed.low != expected.low)))
            Broken("a service station's name gives its logon session, and no other name gives one");
        WideChar szStation[kServiceStationChars];
        char szCanonical[32];
        FormatServiceStation(parsed, szStation);
        snprintf(szCanonical, sizeof szCanonical, "Service-0x%x-%x$", parsed.high, parsed.low);
        if (WideString(szStation) != Widen(szCanonical) || !ParseServiceStation(szStation, &again) ||
            again.high != parsed.high || again.low != parsed.low)
            Broken("a logon session's station is named Service-0x<high>-<low>$ and reads back");
    }

    for (const WideString &text : strings) {
        std::vector<WideChar> large(text.size() * 6 + 1), small(cchSmall);
        if (!EscapeJsonText(text.c_str(), large.data(), large.size()))
            Broken("six characters for one always suffice");
        if (Unescape(WideString(large.data())) != text)
            Broken("the JSON text reads back as the text");
        bool fits = EscapeJsonText(text.c_str(), small.data(), small.size());
        if (WideString(small.data()) != (fits ? WideString(large.data()) : WideString()))
            Broken("a text that does not fit gives an empty result, one that fits the same as with room");
    }
    return 0;
}
