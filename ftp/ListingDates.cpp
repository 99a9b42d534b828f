#include "ftp/ListingDates.h"

#include <QHash>
#include <QString>
#include <QStringDecoder>

#include <array>

using namespace ListingText;

namespace ListingDates {

namespace {

QDateTime utcDateTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    const QDate date(y, mo, d);
    // A leap second is shown as the second before it.
    const QTime time(h, mi, qMin(s, 59), ms);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool hasSeconds = false;
};

// H:MM or HH:MM, maybe with :SS and a fraction of a second after that.
std::optional<TimeOfDay> timeOfDay(QByteArrayView s) {
    const qsizetype colon = s.indexOf(':');
    if (colon < 1 || colon > 2 || s.size() < colon + 3)
        return std::nullopt;
    const QByteArrayView h = s.first(colon);
    const QByteArrayView m = s.sliced(colon + 1, 2);
    if (!isDigits(h) || !isDigits(m))
        return std::nullopt;
    TimeOfDay t{number(h), number(m), 0, false};
    QByteArrayView rest = s.sliced(colon + 3);
    if (!rest.isEmpty()) {
        if (rest.size() < 3 || rest[0] != ':' || !isDigits(rest.sliced(1, 2)))
            return std::nullopt;
        t.second = number(rest.sliced(1, 2));
        t.hasSeconds = true;
        rest = rest.sliced(3);
        if (!rest.isEmpty() && (rest[0] != '.' || !isDigits(rest.sliced(1))))
            return std::nullopt;
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 60)
        return std::nullopt;
    return t;
}

std::optional<int> year(QByteArrayView s) {
    if (s.size() != 4 || !isDigits(s))
        return std::nullopt;
    const int y = number(s);
    if (y < 1900 || y > 2999)
        return std::nullopt;
    return y;
}

// "+0200" or "-0530": the offset from UTC in seconds.
std::optional<int> zoneOffset(QByteArrayView s) {
    if (s.size() != 5 || (s[0] != '+' && s[0] != '-') || !isDigits(s.sliced(1)))
        return std::nullopt;
    const int h = number(s.sliced(1, 2));
    const int m = number(s.sliced(3, 2));
    if (h > 14 || m > 59)
        return std::nullopt;
    return (s[0] == '-' ? -1 : 1) * (h * 3600 + m * 60);
}

struct MonthDay {
    int month;
    int day;
};

// YYYY-MM-DD
std::optional<QDate> isoDate(QByteArrayView s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !isDigits(s.first(4)) ||
        !isDigits(s.sliced(5, 2)) || !isDigits(s.sliced(8, 2)))
        return std::nullopt;
    const int mo = number(s.sliced(5, 2));
    const int d = number(s.sliced(8, 2));
    if (mo < 1 || mo > 12 || d < 1 || d > 31)
        return std::nullopt;
    return QDate(number(s.first(4)), mo, d); // may be invalid (Feb 30): read, not dated
}

// MM-DD, as "ls --time-style=iso" shows a recent date.
std::optional<MonthDay> isoMonthDay(QByteArrayView s) {
    if (s.size() != 5 || s[2] != '-' || !isDigits(s.first(2)) || !isDigits(s.sliced(3)))
        return std::nullopt;
    const MonthDay md{number(s.first(2)), number(s.sliced(3))};
    if (md.month < 1 || md.month > 12 || md.day < 1 || md.day > 31)
        return std::nullopt;
    return md;
}

// A number of one or two digits with the given suffix, e.g. "3" + "月".
std::optional<int> numberWithSuffix(QByteArrayView s, QByteArrayView suffix) {
    if (s.isEmpty() || !isDigit(s[0]) || !s.endsWith(suffix))
        return std::nullopt;
    const QByteArrayView digits = s.first(s.size() - suffix.size());
    if (digits.isEmpty() || digits.size() > 2 || !isDigits(digits))
        return std::nullopt;
    return number(digits);
}

// The day of the month: "2", "02", "2." or "2日" (Chinese, Japanese), "2일"
// (Korean).
std::optional<int> dayOfMonth(QByteArrayView s) {
    for (const char* suffix : {"", ".", "\xE6\x97\xA5", "\xEC\x9D\xBC"}) {
        if (const auto d = numberWithSuffix(s, suffix); d && *d >= 1 && *d <= 31)
            return d;
    }
    return std::nullopt;
}

// Month names, full and in the forms dates use, of the languages whose
// abbreviations servers commonly print; an abbreviation is any start of
// these of three letters or more (with a trailing "." dropped).
const std::array<const char*, 12> kMonthNames = {
    "january januar jänner janvier enero gennaio januari janeiro styczeń stycznia "
    "январь января",
    "february februar février febrero febbraio februari fevereiro luty lutego февраль "
    "февраля",
    "march märz mars marzo maart mrt março marzec marca март марта",
    "april avril abril aprile kwiecień kwietnia апрель апреля",
    "may mai mayo maggio mei maio maj maja май мая",
    "june juni juin junio giugno junho czerwiec czerwca июнь июня",
    "july juli juillet julio luglio julho lipiec lipca июль июля",
    "august août agosto augustus augusti sierpień sierpnia август августа",
    "september septembre septiembre settembre setembro wrzesień września сентябрь "
    "сентября",
    "october oktober octobre octubre ottobre outubro październik października октябрь "
    "октября",
    "november novembre noviembre novembro listopad listopada ноябрь ноября",
    "december dezember décembre diciembre dicembre dezembro grudzień grudnia декабрь "
    "декабря",
};

// Every start of three letters or more of a name above, lower case, in
// UTF-8, to its month; 0 where two months share it.
const QHash<QByteArray, int>& monthAbbreviations() {
    static const QHash<QByteArray, int> table = [] {
        QHash<QByteArray, int> all;
        for (int m = 0; m < 12; ++m) {
            for (const QString& name : QString::fromUtf8(kMonthNames[m]).split(QLatin1Char(' '))) {
                for (qsizetype length = 3; length <= name.size(); ++length) {
                    const QByteArray key = name.first(length).toUtf8();
                    const auto it = all.constFind(key);
                    all.insert(key, it == all.cend() || *it == m + 1 ? m + 1 : 0);
                }
            }
        }
        return all;
    }();
    return table;
}

// "3月" (Chinese, Japanese) or "3월" (Korean): 1 to 12, else 0.
int markedMonth(QByteArrayView s) {
    for (const char* suffix : {"\xE6\x9C\x88", "\xEC\x9B\x94"}) {
        if (const auto m = numberWithSuffix(s, suffix))
            return *m >= 1 && *m <= 12 ? *m : 0;
    }
    return 0;
}

// 1 to 12 for a month the parser knows, 0 for any other.
int monthNumber(QByteArrayView s) {
    if (const int m = markedMonth(s))
        return m;
    if (hasDigit(s) || s.size() > 40)
        return 0;
    QByteArray key = s.toByteArray();
    bool ascii = true;
    for (char& c : key) {
        ascii = ascii && uchar(c) < 0x80;
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    if (!ascii) {
        auto toUtf16 = QStringDecoder(QStringDecoder::Utf8);
        QString text = toUtf16(s);
        if (toUtf16.hasError())
            text = QString::fromLatin1(s); // a server that sends Latin-1
        key = text.toLower().toUtf8();
    }
    if (key.endsWith('.'))
        key.chop(1);
    return monthAbbreviations().value(key, 0);
}

// Where the month may stand in a date of an unknown language: a word with no
// digit in it, or a month marked as such.
bool isMonthLike(QByteArrayView s) {
    return (!hasDigit(s) && !s.contains(':')) || markedMonth(s) > 0;
}

// A date shown with a time but no year is the latest one that is not
// more than a day after `now` (the server's clock may run in a zone ahead of
// ours).
QDateTime latestNotAfter(const QDateTime& now, int month, int day, const TimeOfDay& t) {
    const QDateTime limit = now.addDays(1);
    for (int y = now.date().year() + 1; y >= now.date().year() - 8; --y) {
        const QDateTime candidate = utcDateTime(y, month, day, t.hour, t.minute, t.second);
        if (candidate.isValid() && candidate <= limit)
            return candidate;
    }
    return {};
}

DateMatch dated(qsizetype last, const QDateTime& when, TimePrecision precision) {
    return when.isValid() ? DateMatch{last, when, precision}
                          : DateMatch{last, {}, TimePrecision::None};
}

// Ten characters, "-rw-r--r--", maybe with a mark for an ACL or a security
// context after them. The first is the type: "-" a file, "d" a folder, "l" a

} // namespace

std::optional<DateMatch> matchDate(const Tokens& tok, qsizetype i, const QDateTime& now) {
    const qsizetype n = tok.size();
    if (i >= n)
        return std::nullopt;
    // ISO: "2005-04-08", "2005-04-08 11:22", "2005-04-08 11:22:33.000000000 +0200".
    if (const auto date = isoDate(tok[i])) {
        const auto t = i + 1 < n ? timeOfDay(tok[i + 1]) : std::nullopt;
        if (!t) {
            DateMatch match =
                dated(i, utcDateTime(date->year(), date->month(), date->day()), TimePrecision::Day);
            const qsizetype after = tok.list[i].end + 1;
            match.padding = after < tok.line.size() && isBlank(tok.line[after]) ? 1 : 0;
            return match;
        }
        const QDateTime local =
            utcDateTime(date->year(), date->month(), date->day(), t->hour, t->minute, t->second);
        const auto zone = t->hasSeconds && i + 2 < n ? zoneOffset(tok[i + 2]) : std::nullopt;
        if (zone)
            return dated(i + 2, local.addSecs(-*zone), TimePrecision::Second);
        return dated(i + 1, local, TimePrecision::Minute);
    }
    if (const auto md = isoMonthDay(tok[i]); md && i + 1 < n) {
        if (const auto t = timeOfDay(tok[i + 1]))
            return dated(i + 1, latestNotAfter(now, md->month, md->day, *t), TimePrecision::Minute);
    }
    // Month and day in either order, then a time or a year: "Mar  2 16:27",
    // "02 Mar 2005", "2. Mär 16:27", "3月  2日 16:27". With seconds a year may
    // follow, and then a weekday may lead: "Wed Mar  2 16:27:33 2005".
    for (qsizetype w = i; w <= i + 1; ++w) {
        if (w + 2 >= n || (w > i && (hasDigit(tok[i]) || tok[i].contains(':'))))
            break;
        int month = 0;
        std::optional<int> day;
        if ((day = dayOfMonth(tok[w])) && isMonthLike(tok[w + 1]))
            month = monthNumber(tok[w + 1]);
        else if (isMonthLike(tok[w]) && (day = dayOfMonth(tok[w + 1])))
            month = monthNumber(tok[w]);
        else
            continue;
        const QByteArrayView last = tok[w + 2];
        if (const auto t = timeOfDay(last)) {
            const auto y = t->hasSeconds && w + 3 < n ? year(tok[w + 3]) : std::nullopt;
            if (y)
                return dated(w + 3,
                             month ? utcDateTime(*y, month, *day, t->hour, t->minute, t->second)
                                   : QDateTime(),
                             TimePrecision::Minute);
            if (w == i)
                return dated(w + 2, month ? latestNotAfter(now, month, *day, *t) : QDateTime(),
                             TimePrecision::Minute);
        } else if (const auto y = year(last); y && w == i) {
            return dated(w + 2, month ? utcDateTime(*y, month, *day) : QDateTime(),
                         TimePrecision::Day);
        }
    }
    return std::nullopt;
}

// "12-31-20" or "12-31-2020" with "10:00PM" or "22:00". Two-digit years from
// 70 on are of the 1900s.
QDateTime dosDateTime(QByteArrayView date, QByteArrayView time) {
    const int mo = number(date.first(2));
    const int d = number(date.sliced(3, 2));
    const QByteArrayView yearText = date.sliced(6);
    if ((yearText.size() != 2 && yearText.size() != 4) || !isDigits(yearText))
        return {};
    int y = number(yearText);
    if (yearText.size() == 2)
        y += y < 70 ? 2000 : 1900;
    const qsizetype colon = time.indexOf(':');
    if (colon < 1 || colon > 2 || time.size() < colon + 3 || !isDigits(time.first(colon)) ||
        !isDigits(time.sliced(colon + 1, 2)))
        return {};
    int h = number(time.first(colon));
    const int mi = number(time.sliced(colon + 1, 2));
    const QByteArray suffix = time.sliced(colon + 3).toByteArray().toUpper();
    if (suffix == "AM" || suffix == "PM") {
        if (h < 1 || h > 12)
            return {};
        h = h % 12 + (suffix == "PM" ? 12 : 0);
    } else if (!suffix.isEmpty()) {
        return {};
    }
    return utcDateTime(y, mo, d, h, mi);
}

// YYYYMMDDHHMMSS, maybe with a fraction of a second.
QDateTime mlsdTime(QByteArrayView s) {
    if (s.size() < 14 || !isDigits(s.first(14)))
        return {};
    int ms = 0;
    if (s.size() > 14) {
        const QByteArrayView fraction = s.sliced(15);
        if (s[14] != '.' || !isDigits(fraction))
            return {};
        ms = number(fraction.first(qMin<qsizetype>(3, fraction.size())));
        for (qsizetype k = fraction.size(); k < 3; ++k)
            ms *= 10;
    }
    return utcDateTime(number(s.first(4)), number(s.sliced(4, 2)), number(s.sliced(6, 2)),
                       number(s.sliced(8, 2)), number(s.sliced(10, 2)), number(s.sliced(12, 2)),
                       ms);
}

} // namespace ListingDates
