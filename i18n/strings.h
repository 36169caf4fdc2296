#pragma once

#include <QString>

// The interface speaks Russian (language 0) or English (any other value).
// Texts go through the translation function of the main class, so an
// installed translator would still apply; without one they are the literals.
namespace strings {

constexpr int russian = 0;
constexpr int english = 1;

// The entries of the string table, in index order.
enum Entry : qint8 {
    Apply,
    Close,
    Select,
    NotifyOnArrival,
    AutoStart,
    Language,
    DataFolder,
    UdpPort,
    QuitQuestion,
    RestartNeeded,
    Options,
    About,
    License,
    Help,
    NewResults, // the balloon appends the arrival time after its line break
    SaveDebug,
    tableSize
};

// Entry `index` of the string table; empty for an index outside it.
QString interfaceString(int language, quint8 index);

// The texts of the status window and the tray menu's two commands for it,
// apart from the table above, whose indexes stay as they are.
enum Phrase {
    StatusCommand,
    OpenDataFolder,
    Reception,
    PortOpen,    // %1 the port
    PortNotOpen, // %1 the port, %2 why
    ReceiveBuffer,
    Kibibytes, // %1
    Received,
    Stored,
    Rejected,
    Dropped,
    NotCounted,
    ScalesToday,
    CountingFiles,
    Scale,
    Records,
    Transfers,
    LostPackets,
    MissingTransactions,
    Missing, // %1 the numbers, %2 how many
    Resent,  // %1 the transactions sent again
    Clock,
    ClockBehind,  // %1 how far
    ClockAhead,   // %1 how far
    HoursMinutes, // %1 hours, %2 minutes
    Hours,        // the strip of records per hour
    HourRecords,  // %1 the hour, %2 its records
    Silence,
    SilentSince, // %1 the time
    LastRecord,
    Senders,
    Address,
    Accepted,
    BadFrame,
    BadLength,
    BadCrc,
    NotAllowed,
    LastSeen,
    RecentEvents,
    Time,
    Event,
    ArrivalEvent, // %1 records, %2 the file, %3 the scales
    AllowedSenders,
    AllowedSendersHint,
    BadEntry,          // %1 the entry
    StoredListInvalid, // %1 the entry
    SilentScaleMinutes,
    SilentScaleHint,
    LastResults, // %1 the time, %2 the records
    NoResultsToday,
    // A day that adds up, and its export.
    Day,
    DayDate,
    DaySummary, // %1 records, %2 files
    NoDayFolder,
    ReadingDay,
    DataFolderClosed, // %1 the folder
    Goods,
    FirstTransaction,
    LastTransaction,
    NotFiled,
    WeightSum,
    Plu,
    LowestPrice,
    HighestPrice,
    TransactionNumber,
    RecordStatus,
    DateAndTime,
    GroupNumber,
    OperatorNumber,
    Price,
    Weight,
    Export,
    ExportTitle,
    Exported,         // %1 the files
    ExportFailed,     // %1 the file
    OnlyGroupMayRead, // %1 the group
    OnlyAdministratorsMayRead,
    // The tray program as the window of the service.
    ServiceGone,
    ServiceReceives,
    ServiceOptions,
    OnlyGroupMayChange, // %1 the group
    OnlyAdministratorsMayChange,
    ServiceUnreachable, // %1 where, %2 why
    phraseCount
};
QString phrase(int language, Phrase which);

// The long ("Scalvanto") or short ("Scalvo") product title.
QString appName(int language, bool longTitle);

// Warnings that have no place in the table: a data file that could not be
// written, and a UDP port that could not be opened (with the reason).
QString saveFailedText(int language, const QString &path);
// "data_5.txt: packet 2 of 3 from scale 00017 never arrived"; `packets` as
// ranges ("2, 4–6"), `several` when they are more than one.
QString packetsLostText(int language, const QString &file, const QString &packets, bool several,
                        int count, const QString &scale);
// "scale 00017: transactions 1235–1240 never arrived"
QString transactionsMissingText(int language, const QString &scale, const QString &numbers,
                                bool several);
QString transactionLateText(int language, const QString &scale, qint64 number);
QString renumberedText(int language, const QString &scale, qint64 number);
// "scale 00017 silent since 14:03 while others sent 140 records"
QString scaleSilentText(int language, const QString &scale, const QString &since, qint64 others);
// The addresses as "a, b".
QString addressChangedText(int language, const QString &old, const QString &now);
// More of what never arrived than is told one by one.
QString untoldText(int language, qint64 count);
// A packet named lost came after all.
QString packetLateText(int language, const QString &file, int packet, int count,
                       const QString &scale);
QString bindFailedText(int language, quint16 port, const QString &reason);
// The reason given for port 0, which is never opened.
QString invalidPortReason(int language);

} // namespace strings
