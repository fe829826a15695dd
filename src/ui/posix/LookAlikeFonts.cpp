#include "ui/LookAlikeFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <mutex>

namespace qrb {

void RegisterLookAlikeFonts() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* path :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf",
              "/usr/share/wine/fonts/system.ttf"}) {
            if (QFile::exists(path)) {
                QFontDatabase::addApplicationFont(path);
            }
        }
    });
}

}  // namespace qrb
