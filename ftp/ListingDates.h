#pragma once

#include "ftp/ListingParsers.h"
#include "ftp/ListingText.h"

#include <QByteArrayView>
#include <QDateTime>

#include <optional>

// Dates as listings print them: Unix LIST dates in any language and order,
// DOS/IIS dates and MLSD times, each with how precise it is. Times without a
// zone are taken as UTC; their precision says how rough they are.
namespace ListingDates {

struct DateMatch {
    qsizetype last = 0; // the index of the date's last token
    QDateTime modified;
    TimePrecision precision = TimePrecision::None;
    // Blanks that belong to the date after its last token: ls pads an old
    // date of its "iso" style ("2005-04-08 ") to the width of a recent one
    // ("04-08 11:22").
    qsizetype padding = 0;
};

// The date that starts at token i of a Unix LIST line, in whichever form and
// language it is; `now` places a date shown without its year.
std::optional<DateMatch> matchDate(const ListingText::Tokens& tok, qsizetype i,
                                   const QDateTime& now);

// "12-31-20" or "12-31-2020" with "10:00PM" or "22:00"; invalid when the text
// is no such date.
QDateTime dosDateTime(QByteArrayView date, QByteArrayView time);

// YYYYMMDDHHMMSS, maybe with a fraction of a second; invalid otherwise.
QDateTime mlsdTime(QByteArrayView s);

} // namespace ListingDates
