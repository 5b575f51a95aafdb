#include "shell/app.h"

#include "config/monitor_process.h"
#include "lang/lang.h"
#include "lang/options.h"
#include "platform/console_input.h"
#include "platform/regional.h"
#include "platform/settings_store.h"
#include "shell/search_paths.h"
#include "shell/services.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// How long the stop waits for item threads before the process ends anyway:
// idle items end within about 100 ms, and one busy in a long action must not
// hold the exit.
constexpr int kStopGraceMs = 1000;

}  // namespace

std::string InsertPath(const std::string& text, const std::string& path) {
  size_t at = text.find("%s");
  if (at == std::string::npos) return text;
  return text.substr(0, at) + path + text.substr(at + 2);
}

int RunConsoleProgram(const std::vector<std::string>& args) {
  MessageSink& out = ConsoleSink();
  out.Write(std::string(kProgramName) + " " + kProgramVersion + " [console version]\n\n");

  ApplyUserLocale();
  Options options;
  if (auto store = OpenUserSettingsStore()) LoadOptions(*store, options);

  const SearchPlaces places = InstalledPlaces();
  {
    Lang lang(ChooseLangFolder(places, options.Language), options.Language);
    AdvStringList table;
    lang.LoadStrings(table, "Strings");
    InstallStrings(std::move(table));
  }

  // Item threads may outlive this function's frame on the way out, so the
  // services they use are never destroyed.
  Services* services = new Services;
  services->regional = UserRegionalSettings();

  const std::string config = args.size() <= 1 ? ChooseDefaultConfig(places) : args[1];

  // Keys are read from before the load so that the terminal is in key mode
  // (no echo) from the start, and a stop signal during the load is not lost.
  std::unique_ptr<ConsoleInput> input = OpenConsoleInput();
  auto monitors = std::make_unique<MonitorProcess>(*services);
  if (!monitors->Load(config)) {
    out.Write(Strings().OemTextAt(kLngCantLoad) + " \"" + config + "\".\n");
    return 1;
  }
  out.Write(InsertPath(Strings().OemTextAt(kLngLoaded), config) + "\n" +
            Strings().OemTextAt(kLngStarted) + "\n");

  for (;;) {
    int key = input->WaitKey();
    if (key == ConsoleInput::kStop || key == 'x' || key == 'X') break;
  }
  monitors->StopAll();
  monitors->WaitStopped(kStopGraceMs);
  return 0;
}

}  // namespace sentrel
