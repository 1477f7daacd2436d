#include "startup.h"
#include "connection.h"
#include "mainwindow.h"
#include "prompt.h"
#include "unglobal.h"

#include <QImageReader>

namespace lectoria {

bool checkJpegSupport()
{
    if (QImageReader::supportedImageFormats().contains("jpeg"))
        return true;
    showError(QStringLiteral("找不到 JPEG 图片解码插件（Qt 图片格式插件 qjpeg，基于 libjpeg-turbo）。"
                             "背景图片将无法显示，请安装 Qt 的图片格式插件。"));
    return false;
}

std::unique_ptr<QWidget> createFirstWindow()
{
    if (!TLibDM::connect(true) || unGlobal().ConnectionState != QLatin1String("OK"))
        return std::make_unique<TDbPara>();
    auto main = std::make_unique<TWebMain>();
    registerCommands(*main);
    main->FormCreate();
    return main;
}

} // namespace lectoria
