#include "app/qt/demo/demo_machine.h"

#include <algorithm>
#include <filesystem>

#include "image/image_writer.h"

namespace keluflash {

namespace {

SimulatedDriveConfig ProfileDrive(const char* name) {
    const SimulatedProfile* profile = FindSimulatedProfile(name);
    return profile && !profile->config.drives.empty() ? profile->config.drives.front() : SimulatedDriveConfig{};
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

SimulatedMachineConfig DemoMachineConfig() {
    SimulatedMachineConfig config;
    config.drives.clear();
    config.drives.push_back(ProfileDrive("default"));

    SimulatedDriveConfig methodB = ProfileDrive("method-b");
    methodB.revision = "1.05";  // the same model: a different line in the list
    config.drives.push_back(methodB);

    SimulatedDriveConfig w0 = ProfileDrive("w0-family");
    w0.product = "ZXR-0120K";   // in the family list and the supported list
    config.drives.push_back(w0);

    config.drives.push_back(ProfileDrive("w0-family"));      // ZXR-0130K: not supported
    config.drives.push_back(ProfileDrive("unknown-model"));  // no image fits
    return config;
}

bool WriteDemoImages(const SimulatedMachineConfig& config, const std::string& directory,
                     std::vector<std::string>& fileNames, std::string& error) {
    const SimulatedProfile* unknown = FindSimulatedProfile("unknown-model");
    std::vector<std::string> models;
    for (const SimulatedDriveConfig& drive : config.drives) {
        const std::string model = Trimmed(drive.product);
        if (std::find(models.begin(), models.end(), model) != models.end()) continue;
        models.push_back(model);

        DemoFirmwareRecipe recipe;
        recipe.vendor = drive.vendor;
        recipe.product = drive.product;
        recipe.revision = drive.revision;
        recipe.firmwareId = drive.firmwareId;
        recipe.seed = models.size();
        if (unknown && !unknown->config.drives.empty() && drive.firmwareId == unknown->config.drives.front().firmwareId) {
            recipe.firmwareId = {0x4B, 0x36};  // made for another firmware line
        }
        const ImageWriteResult image = BuildDemoFirmware(recipe);
        if (!image.ok) {
            error = model + ": " + image.error;
            return false;
        }
        const std::string fileName = (std::filesystem::path(directory) / (model + ".kfs")).string();
        if (!SaveImageFile(fileName, image.bytes, error)) return false;
        fileNames.push_back(fileName);
    }
    return true;
}

}  // namespace keluflash
