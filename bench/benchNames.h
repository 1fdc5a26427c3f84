#pragma once

// The benchmarks by name: the table looks their results up under these, and
// each group of them runs with its own virtual token.
namespace benchNames {

inline constexpr char oneCommandTool[] = "one_command/Scard::sendApdu";
inline constexpr char oneCommandBare[] = "one_command/SCardTransmit";
inline constexpr char kvdiagRunTool[] = "kvdiag_run/kvdiag";
inline constexpr char kvdiagRunBare[] = "kvdiag_run/bare_client";
inline constexpr char kvdiagStartOnly[] = "kvdiag_run/kvdiag_--help";
inline constexpr char libraryOpenTool[] = "library/kvflash_create_token+section_list";
inline constexpr char libraryOpenBare[] = "library/bare_commands";
inline constexpr char restartToFirstCommand[] = "reconnect/restart_to_first_command";
inline constexpr char mountToFound[] = "mount/mount_to_found";
inline constexpr char journalDecode[] = "journal/decode";
inline constexpr char journalWrite[] = "journal/decode_and_write";
inline constexpr char journalHash[] = "journal/sha256_of_file";

// Counters of the whole-program runs.
inline constexpr char cpuCounter[] = "cpu_ms";
inline constexpr char commandsCounter[] = "commands";
inline constexpr char peakRssCounter[] = "peak_rss_kib";
inline constexpr char journalBytesCounter[] = "journal_bytes";

}  // namespace benchNames
