#include "cli/FileChecks.h"

#include <filesystem>

#include "firmware/FileCatalogue.h"
#include "firmware/FirmwareError.h"
#include "firmware/SlaveLineSource.h"
#include "firmware/SrecImage.h"

namespace qrb::cli {

std::string TargetName(WriteTarget target) {
    switch (target) {
        case kMasterCpu:
            return "Master CPU";
        case kSlaveCpu:
            return "Slave CPU";
        default:
            return "OLU-6";
    }
}

FileFacts CheckFirmwareFile(const std::string& file, std::optional<WriteTarget> target) {
    FileFacts facts;
    if (target) {
        facts.target = *target;
    } else {
        const std::string name = std::filesystem::path(file).filename().string();
        switch (TargetFromFileName(name)) {
            case FileKind::MasterCpu:
                facts.target = kMasterCpu;
                break;
            case FileKind::SlaveCpu:
                facts.target = kSlaveCpu;
                break;
            case FileKind::OptionUnit:
                facts.target = kOptionUnit;
                break;
            default:
                throw FileProblem(file +
                                  ": the target cannot be told from the file name (give --target)");
        }
    }
    try {
        facts.header = ReadSflHeader(file);
        if (!facts.header.recordStartFound) {
            throw FileProblem(file +
                              ": the file has no record start (no S0, VS, :02000004 or ALL line)");
        }
        int keyIndex = 0;
        if (facts.target == kSlaveCpu) {
            facts.slaveLineCount = static_cast<int>(ReadSlaveLines(file, keyIndex).size());
        } else {
            const std::size_t size =
                facts.target == kMasterCpu ? kMasterImageSize : kOptionImageSize;
            facts.checksumText = ChecksumText(BuildSrecImage(file, size, keyIndex).checksum);
        }
    } catch (const FileProblem&) {
        throw;
    } catch (const ConversionError& e) {
        throw FileProblem(file + ": " + e.what());
    } catch (const std::exception& e) {
        throw FileProblem(e.what());
    }
    return facts;
}

}  // namespace qrb::cli
