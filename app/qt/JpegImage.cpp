#include "JpegImage.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <string>

#include <jpeglib.h>

namespace quendal {

namespace {

// libjpeg's default error handler ends the program; this one jumps back to the decoder with
// the message instead.
struct TErrorManager {
    jpeg_error_mgr Base; // first, so that the pointer libjpeg hands back is this record's
    std::jmp_buf Escape;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr AInfo) {
    auto* manager = reinterpret_cast<TErrorManager*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, manager->Message);
    std::longjmp(manager->Escape, 1);
}

void EmitMessage(j_common_ptr AInfo, int ALevel) {
    // Level -1 is a warning about damaged data that the decoder would patch over with grey:
    // the picture is ours, so damage is a fault to report. Trace levels are not wanted.
    if (ALevel < 0) ErrorExit(AInfo);
}

// The decoder run itself, apart from anything with a destructor: a longjmp out of libjpeg
// skips every destructor between here and the failing call. AImage lives in the caller.
bool Decode(jpeg_decompress_struct& AInfo, TErrorManager& AErrors, const unsigned char* AData,
            unsigned long ASize, QImage& AImage) {
    if (setjmp(AErrors.Escape) != 0) return false;
    jpeg_create_decompress(&AInfo);
    jpeg_mem_src(&AInfo, AData, ASize);
    jpeg_read_header(&AInfo, TRUE);
    AInfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&AInfo);
    AImage = QImage(static_cast<int>(AInfo.output_width), static_cast<int>(AInfo.output_height),
                    QImage::Format_RGB888);
    if (AImage.isNull()) {
        std::snprintf(AErrors.Message, sizeof AErrors.Message, "picture too large");
        return false;
    }
    while (AInfo.output_scanline < AInfo.output_height) {
        JSAMPROW row = AImage.scanLine(static_cast<int>(AInfo.output_scanline));
        jpeg_read_scanlines(&AInfo, &row, 1);
    }
    jpeg_finish_decompress(&AInfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const void* AData, std::size_t ASize) {
    jpeg_decompress_struct info{};
    TErrorManager errors{};
    info.err = jpeg_std_error(&errors.Base);
    errors.Base.error_exit = ErrorExit;
    errors.Base.emit_message = EmitMessage;
    QImage image;
    const bool decoded = Decode(info, errors, static_cast<const unsigned char*>(AData),
                                static_cast<unsigned long>(ASize), image);
    // Safe also for a record whose creation failed: it frees what exists.
    jpeg_destroy_decompress(&info);
    if (!decoded) throw EJpegError(std::string("Cannot decode the picture: ") + errors.Message);
    return image;
}

} // namespace quendal
