#pragma once
// What a workflow tells the window that started it: stay open, or end the
// program with an exit code a calling script can read.
namespace talvane::app {

// The program's exit codes (docs/exit-codes.md).
enum class ExitCode : int {
    Ok = 0,      // the run did what was asked: package and configuration deployed, tool started
    Failed = 1,  // the tool was not started because something failed
    ToolWithoutConfig = 2  // the tool started, but its configuration could not be deployed
};

class Outcome {
  public:
    static Outcome Stay() { return Outcome(false, ExitCode::Ok); }
    static Outcome End(ExitCode code) { return Outcome(true, code); }

    bool Ends() const { return ends_; }
    ExitCode Code() const { return code_; }
    bool operator==(const Outcome&) const = default;

  private:
    Outcome(bool ends, ExitCode code) : ends_(ends), code_(code) {}
    bool ends_;
    ExitCode code_;
};

}  // namespace talvane::app
