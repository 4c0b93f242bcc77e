// Settings for the pipeline's tests: a CRSettings over a document of the test's, saved in the
// file manager's settings folder and cached as a fetch would have left it.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/settings.h"

inline std::shared_ptr<CRSettings> CRSettingsWithDocument(const std::shared_ptr<const CRFileManager>& fileManager,
                                                          const std::string& document) {
  auto appIDModel = std::make_shared<CRApplicationIdentifierModel>(
      std::map<std::string, std::string>{{"x86_64", "00112233445566778899aabbccddeeff"}});
  auto settings = std::make_shared<CRSettings>(fileManager, appIDModel);
  std::filesystem::create_directories(fileManager->settingsDirectoryPath());
  std::ofstream(fileManager->settingsFilePath()) << document;
  settings->cacheSettingsWithZidezaAppID("1:1:ios:1", CRSettings::currentTimestamp());
  return settings;
}
