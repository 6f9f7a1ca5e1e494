#pragma once

// Where the build put what the tests run and read. Each constant is defined, by the build, only
// in the targets whose tests use it (see cmake/VantrelBuildPaths.cmake): a test that names one its
// target lacks fails to link.
namespace vantrel::test::build {

// Every test executable (tests/support).
extern const char* const kLockHolder;
extern const char* const kOrvaSim;

// The platform tests' helper programs.
extern const char* const kTreeChild;
extern const char* const kThreadedChild;
extern const char* const kGroupStarter;

// The engine tests' own client.
extern const char* const kEngineClient;

// The built programs, where the end-to-end tests and the soak keep their logs, and the leak
// reports the sanitizer builds leave out for them.
extern const char* const kProgram;
extern const char* const kHeadlessProgram;
extern const char* const kArtifacts;
extern const char* const kLsanSuppressions;

// The packaging tests: the trees and the tools that install and pack them.
extern const char* const kSourceDir;
extern const char* const kBuildDir;
extern const char* const kCMake;
extern const char* const kCPack;
extern const char* const kSvgToPng;

} // namespace vantrel::test::build
