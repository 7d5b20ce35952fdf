#pragma once

// What the help reader (ombrix-help-reader, plain C++) and the viewer's HelpReader agree on.
//
// The reader's output: records of a 32-bit little-endian name length, the name, a 32-bit
// little-endian data length and the data. Objects ("/index.htm") first, then TitleRecord,
// TopicRecord (the page the file opens at) and ContentsRecord (its contents sitemap, or empty),
// then EndRecord with no data; a stream without EndRecord is incomplete.

namespace HelpProtocol {

constexpr char TitleRecord[] = ":title";
constexpr char TopicRecord[] = ":topic";
constexpr char ContentsRecord[] = ":contents";
constexpr char EndRecord[] = ":end";

/// No stream is longer: the reader stops short of it, the viewer stops a reader that goes past it.
constexpr long long MaxOutput = 80LL << 20;

/// The reader's exit codes, one per way it fails. 1 is left out: sanitizers and shells use it.
enum Exit : int {
    Read = 0,
    Unreadable = 2, ///< the file cannot be opened or is not a regular file
    NotHelp = 3, ///< not a compiled help file
    TooLarge = 4, ///< the file or its objects exceed the reader's limits
    Damaged = 5, ///< its structures contradict each other
    NoLimit = 6, ///< a resource limit could not be set
    WriteFailed = 7, ///< standard output could not be written
    OutputCap = 8, ///< the stream would exceed MaxOutput
    Usage = 9, ///< not started with exactly one file name
};

} // namespace HelpProtocol
