// brivel: the app program. It starts the app (launch steps, store, shared objects), serves
// its one scene to a browser page on this machine and prints the page's address.
//
//   brivel [--data-dir DIR] [--port N] [--sdk-endpoints FILE]
//
// --data-dir puts every file the app writes under DIR (default $XDG_DATA_HOME/brivel, else
// ~/.local/share/brivel); --port serves on port N of 127.0.0.1 (default, or 0: a free port);
// --sdk-endpoints reads the SDK's service addresses from FILE instead of the
// TelemetryEndpoints.plist beside the program (whose hosts lead nowhere).
// The printed address carries a secret made for this launch (it stays good until the program
// stops); only a browser that opened it can use the page. Everything under the data directory is this user's only (folder 0700, files 0600).
// One program runs per data folder: a second start on a folder in use says which process has
// it (and its page's address) and exits with status 1, touching nothing.
// SIGINT and SIGTERM end the program cleanly: the main loop stops, the server closes and the
// store is saved (when saving fails the program says so and keeps trying for a few seconds)
// and checkpointed into its one file. Exit codes: 0 after a clean end, 1 when the data folder
// is in use by another program, the page cannot be served, the telemetry SDK cannot be
// configured or changes could not be saved, 2 for a bad command line.
#include <sys/stat.h>

#include <functional>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "data_folder.h"
#include "Brivel/model/brivel_model_container.h"
#include "platform/application/application.h"
#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/collections/bank_account_screens.h"
#include "Brivel/collections/category_screens.h"
#include "Brivel/collections/note_screens.h"
#include "Brivel/forecast/forecast_screen.h"
#include "Brivel/forecast/salary_list_screen.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "Brivel/shell/brivel_app.h"
#include "platform/data/recovery_journal.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/shutdown_signals.h"
#include "platform/foundation/arguments.h"
#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"
#include "platform/keychain/keychain.h"
#include "platform/ui/runtime.h"
#include "platform/ui/services.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/utilities/logger.h"
#include "web/front.h"

namespace {

constexpr const char* kUsage =
    "usage: brivel [--data-dir DIR] [--port N] [--sdk-endpoints FILE]\n"
    "  --data-dir DIR        keep the app's files under DIR\n"
    "  --port N              serve the page on port N of 127.0.0.1 (0: any free port)\n"
    "  --sdk-endpoints FILE  read the SDK's service addresses from FILE (a property list)\n"
    "The SDK's switches -TELDebugEnabled, -TELDebugDisabled, -TELLoggerForceSTDERR and\n"
    "-TELSessionsDebugEvents are taken as they are.\n";

struct Options {
  std::optional<std::filesystem::path> dataDirectory;
  std::optional<std::filesystem::path> sdkEndpoints;
  int port = 0;
  bool help = false;
};

// Parses the command line; on a bad one writes why to `error` and answers std::nullopt.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  // The SDK's launch switches pass: its logger and session producer read them themselves.
  static const platform::ArgumentSpec spec{
      .valued = {"--data-dir", "--port", "--sdk-endpoints"},
      .switches = {"--help", "-h"},
      .passed = {"-TELDebugEnabled", "-TELDebugDisabled", "-TELLoggerForceSTDERR", "-TELSessionsDebugEvents"}};
  const platform::Expected<platform::Arguments> arguments = platform::parseArguments(argc, argv, spec);
  if (!arguments.ok()) {
    error = arguments.error().localizedDescription();
    return std::nullopt;
  }
  Options options;
  options.help = arguments->has("--help") || arguments->has("-h");
  if (auto dataDirectory = arguments->value("--data-dir")) options.dataDirectory = std::filesystem::path(*dataDirectory);
  if (auto endpoints = arguments->value("--sdk-endpoints")) options.sdkEndpoints = std::filesystem::path(*endpoints);
  if (auto value = arguments->value("--port")) {
    const platform::Expected<int> port = web::parsePortArgument(*value);
    if (!port.ok()) {
      error = port.error().localizedDescription();
      return std::nullopt;
    }
    options.port = *port;
  }
  return options;
}

// The side screens (bank accounts, categories, notes, salary), once for the whole app: in
// sheets for the bills list and the forecast, pushed on the profile editor's stack.
platform::ui::View withNeighbourScreens(const platform::ui::View& content) {
  using platform::ui::View;
  using Profile = std::shared_ptr<brivel::ProfileEntity>;
  brivel::BillsNeighbourScreens sheets = brivel::BillsNeighbourScreensKey::defaultValue();
  sheets.bankAccounts = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::BankAccountsListScreen{.profile = profile, .presentedInSheet = true});
  };
  sheets.categories = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::CategoriesListScreen{.profile = profile, .presentedInSheet = true});
  };
  sheets.notes = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::NotesListScreen{.profile = profile, .presentedInSheet = true});
  };
  sheets.salary = brivel::salarySheetScreen;
  sheets.bankAccountAdd = [](platform::ui::Binding<bool> dismiss, const Profile& profile, bool dismissAfterSave,
                             std::function<void(const std::shared_ptr<brivel::BankAccountEntity>&)> completion) {
    return View(brivel::BankAccountsAddScreen{std::move(dismiss), profile, dismissAfterSave, std::move(completion)});
  };
  sheets.categoryAdd = [](platform::ui::Binding<bool> dismiss, const Profile& profile, bool dismissAfterSave,
                          std::function<void(const std::shared_ptr<brivel::CategoryEntity>&)> completion) {
    return View(brivel::CategoriesAddScreen{std::move(dismiss), profile, dismissAfterSave, std::move(completion)});
  };
  brivel::ProfileCollectionScreens pushed = brivel::ProfileCollectionScreensKey::defaultValue();
  pushed.bankAccounts = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::BankAccountsListScreen{.profile = profile, .presentedInSheet = false});
  };
  pushed.categories = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::CategoriesListScreen{.profile = profile, .presentedInSheet = false});
  };
  pushed.notes = [](const Profile& profile, platform::ui::DismissAction) {
    return View(brivel::NotesListScreen{.profile = profile, .presentedInSheet = false});
  };
  pushed.salary = brivel::pushedSalaryScreen;
  return content.environment<brivel::BillsNeighbourScreensKey>(sheets)
      .environment<brivel::ProfileCollectionScreensKey>(pushed);
}

// With -TELSessionsDebugEvents the session producer prints every session event at info level:
// the SDK's log then shows that level, and copies its lines to standard error as well.
void showSessionEventPrintouts(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "-TELSessionsDebugEvents") {
      TELLoggerSetLevel(TELLoggerLevel::Info);
      UTLLoggerAddStandardError();
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread inherits the blocked signals.
  platform::ShutdownSignals signals;

  std::string error;
  const std::optional<Options> options = parseOptions(argc, argv, error);
  if (!options) {
    std::cerr << "brivel: " << error << "\n" << kUsage;
    return 2;
  }
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }
  if (options->sdkEndpoints) {
    if (platform::Status used = TELEndpoints::useFile(*options->sdkEndpoints); !used.ok()) {
      std::cerr << "brivel: " << used.error().localizedDescription() << "\n";
      return 2;
    }
  }
  if (options->dataDirectory) {
    platform::FileLocations::setDataDirectory(std::filesystem::absolute(*options->dataDirectory));
  }
  // Whatever the program writes is its user's only.
  ::umask(077);
  const std::filesystem::path dataDirectory = platform::FileLocations::dataDirectory();
  std::error_code dataError;
  std::filesystem::create_directories(dataDirectory, dataError);
  // Held until the program ends: one program per data folder.
  std::unique_ptr<platform::DataFolderLock> folderLock;
  if (dataError || !std::filesystem::is_directory(dataDirectory, dataError)) {
    std::cerr << "brivel: the data folder " << dataDirectory.string() << " cannot be used: "
              << platform::describeFileProblem(dataError && dataError.value() != EEXIST ? dataError.value() : ENOTDIR,
                                               dataDirectory)
              << "\n";
  } else {
    if (!brivel::app::lockDataFolder(dataDirectory, "brivel", folderLock)) return 1;
    ::chmod(dataDirectory.c_str(), 0700);
    // Left by writes that an earlier run did not finish.
    platform::sweepStaleTemporaryFiles(dataDirectory);
    // Changes the last stop could not save, kept elsewhere: back into the store before it opens.
    platform::replayRecoveryJournal(brivel::app::storeFile(dataDirectory), platform::recoveryJournalRoot());
    // Read now rather than at the SDK's first use, so that a damaged keychain is told on the
    // first page like the other damaged files.
    platform::Keychain::shared();
  }

  // A link the app opens is printed for the user to follow.
  platform::ui::setOpenURLHandler([](const std::string& url) { std::cout << "brivel: open " << url << std::endl; });

  brivel::RootScreen root;
  root.collectionTab = [] { return platform::ui::View(brivel::CollectionListScreen{}); };
  root.forecastTab = [](const std::shared_ptr<brivel::ProfileEntity>& profile) {
    return platform::ui::View(brivel::ForecastScreen{profile});
  };
  // The screens the bills list and the profile editor open for a profile.
  // The app runs on this machine's application platform.
  const platform::AppPlatform appPlatform = platform::AppPlatform::system();
  showSessionEventPrintouts(argc, argv);
  brivel::BrivelApp app({}, root, appPlatform);
  app.delegate().application(*appPlatform.application, std::nullopt);
  if (const platform::Status& sdk = app.delegate().sdkConfiguration(); !sdk.ok()) {
    std::cerr << "brivel: the telemetry SDK cannot be configured: " << sdk.error().localizedDescription() << "\n";
    return 1;
  }

  auto runtime = std::make_shared<platform::ui::ViewRuntime>([app] { return withNeighbourScreens(app.body()); });
  auto scene = std::make_shared<platform::WindowScene>([weak = std::weak_ptr(runtime)] {
    auto strong = weak.lock();
    return strong ? strong->scenePhase() : platform::ui::ScenePhase::background;
  });
  appPlatform.application->connectScene(scene);
  // The application becomes active whenever the page is shown; the SDK's heartbeats hang on it.
  runtime->addRenderObserver([weak = std::weak_ptr(runtime), application = appPlatform.application](
                                 const platform::ui::Node&, std::uint64_t) {
    if (auto strong = weak.lock()) application->noteScenePhase(strong->scenePhase());
  });

  web::WebServerOptions serverOptions;
  serverOptions.port = options->port;
  web::WebFront front(runtime, serverOptions);
  // Answered means saved: every action the page posts is saved before it is answered, and a
  // save that fails is answered as failed and shown on the page until a retry succeeds.
  auto saver = std::make_shared<platform::SaveReporter>(brivel::BrivelModelContainer::sharedContainer());
  front.setCommit([saver] { return saver->saveNow(); });
  if (platform::Status started = front.start(); !started.ok()) {
    std::cerr << "brivel: the page cannot be served: " << started.error().localizedDescription() << "\n";
    return 1;
  }
  std::cout << front.launchUrl() << std::endl;
  if (folderLock) folderLock->setAddress(front.launchUrl());

  signals.startWatching();
  platform::MainLoop::run();
  appPlatform.application->noteWillTerminate();

  front.stop();
  appPlatform.application->disconnectScene(scene);
  if (auto container = brivel::BrivelModelContainer::sharedContainer()) {
    platform::ModelContext& context = container->mainContext();
    platform::Status saved = context.save();
    auto reason = [&] {
      std::string text = saved.error().localizedDescription();
      return text.empty() || text.back() == '.' ? text : text + ".";
    };
    if (!saved.ok()) {
      std::cerr << "brivel: your latest changes are not saved yet: " << reason() << " Trying again for 10 seconds...\n";
      for (int attempt = 0; attempt < 10 && !saved.ok(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        saved = context.save();
      }
      if (!saved.ok()) {
        brivel::app::keepUnsavedChanges(*container, reason());
        return 1;
      }
      std::cerr << "brivel: your changes are saved now.\n";
    }
    // The store alone holds everything from here on.
    container->checkpoint();
  }
  return 0;
}
