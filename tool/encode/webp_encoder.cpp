#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>

#include "tool/encode/picture_formats.h"

namespace thumbnail {
namespace {

// The mark rides in the XMP metadata, as the tool that made the picture.
const std::string kCreatorTool = "xmp:CreatorTool=\"";

std::string Xmp() {
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" " +
         kCreatorTool + SoftwareName() + "\"/></rdf:RDF></x:xmpmeta>";
}

struct MuxDeleter {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

}  // namespace

bool ReadWebpHead(const std::string& head, PictureSize* size, bool* marked) {
  if (head.size() < 16 || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 4, "WEBP") != 0) return false;
  int width = 0, height = 0;
  if (!WebPGetInfo(reinterpret_cast<const uint8_t*>(head.data()), head.size(), &width, &height)) width = height = 0;
  *size = {width, height};
  // Metadata follows the pixels: a picture too large for the head has its
  // mark out of sight, and counts as not the tool's.
  *marked = head.find(kCreatorTool + kMarkPrefix) != std::string::npos;
  return true;
}

bool EncodeWebp(const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out, std::string* error) {
  uint8_t* encoded = nullptr;
  const size_t size = WebPEncodeBGR(frame.bgr.data(), frame.width, frame.height, frame.width * 3,
                                    static_cast<float>(settings.quality), &encoded);
  std::unique_ptr<uint8_t, decltype(&WebPFree)> pixels(encoded, &WebPFree);
  if (size == 0) {
    *error = "libwebp refused the picture";
    return false;
  }
  std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxNew());
  const std::string xmp = Xmp();
  const WebPData image{pixels.get(), size};
  const WebPData metadata{reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size()};
  WebPData assembled;
  WebPDataInit(&assembled);
  if (!mux || WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK ||
      WebPMuxSetChunk(mux.get(), "XMP ", &metadata, 0) != WEBP_MUX_OK ||
      WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
    WebPDataClear(&assembled);
    *error = "libwebp could not add the picture's metadata";
    return false;
  }
  out->assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  return true;
}

}  // namespace thumbnail
