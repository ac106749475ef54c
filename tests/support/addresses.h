#pragma once

// Each test executable that runs a UDP controller binds it on its own
// loopback address at port 10006, so the suites can run in parallel.
namespace lumidex::test {

inline constexpr const char* kLinkTestsController = "127.0.0.2";
inline constexpr const char* kToolTestsController = "127.0.0.3";
inline constexpr const char* kAppTestsController = "127.0.0.4";
inline constexpr const char* kAppInputTestsController = "127.0.0.7";
inline constexpr const char* kDialogTestsController = "127.0.0.8";
// The simulator and the sender run inside the test, on both systems.
inline constexpr const char* kToolLoopTestsController = "127.0.0.21";
// The bridge's boards: three controllers of its suite, and the first of
// the benchmark's hundred (127.0.1.1 .. 127.0.1.100).
inline constexpr const char* kBridgeTestsBoardA = "127.0.0.31";
inline constexpr const char* kBridgeTestsBoardB = "127.0.0.32";
inline constexpr const char* kBridgeTestsBoardC = "127.0.0.33";
inline constexpr const char* kBridgeBenchFirstBoard = "127.0.1.1";
// The HTTP door's suite (tests/http, in Python): its two boards, and the
// client addresses it logs in from (127.0.0.45 ..); its restart test's
// board is 127.0.5.1.
inline constexpr const char* kHttpTestsBoardA = "127.0.0.41";
inline constexpr const char* kHttpTestsBoardB = "127.0.0.42";
// The board its admin adds while the bridge runs (127.0.0.43 is the one
// no controller answers for).
inline constexpr const char* kHttpTestsAddedBoard = "127.0.5.2";
// Its board of schedules on time and across a kill, and its board whose
// line goes stale.
inline constexpr const char* kHttpTestsScheduledBoard = "127.0.6.1";
inline constexpr const char* kHttpTestsStaleBoard = "127.0.6.2";
// The HTTP door's abuse suite (tests/http/test_http_abuse.py): its board
// 127.0.4.1, one no controller answers for (127.0.4.2), and its clients
// 127.0.4.10 .. 127.0.4.199. (bench/bench_page.py's silent boards are
// 127.0.2.x and 127.0.3.x.)
// The change record's end-to-end test (tests/bridge/http/test_record_e2e.py): its
// two boards 127.0.7.1 and 127.0.7.2.
// The web page's browser tests (tests/web/web_fixture.py, which names them
// again): two simulated boards and one no controller answers for.
inline constexpr const char* kWebTestsHall = "127.0.0.91";
inline constexpr const char* kWebTestsDock = "127.0.0.92";
inline constexpr const char* kWebTestsYard = "127.0.0.93";
// The board an admin adds in the page.
inline constexpr const char* kWebTestsAdded = "127.0.0.94";
// scripts/run --site runs its three boards on 127.0.0.61 .. 127.0.0.63, so a
// demo and a test run can share a machine; no suite binds them.
// A host that is never a controller: stray datagrams come from here.
inline constexpr const char* kStrayHost = "127.0.0.99";

} // namespace lumidex::test
