#include "platform/media/graph/media_classes.h"

#include "platform/media/ffmpeg/ffmpeg_log.h"
#include "platform/media/graph/filter_graph.h"
#include "platform/media/render/colour_converter.h"
#include "platform/media/render/sample_renderer.h"

void RegisterMediaClasses() {
  media::SilenceFfmpegLog();
  RegisterClassFactory(CLSID_FilterGraph, CreateInstance<media::FilterGraph>);
  RegisterClassFactory(CLSID_Colour, CreateInstance<media::ColourConverter>);
  RegisterClassFactory(CLSID_TarvenixSampleRenderer, CreateInstance<media::SampleRenderer>);
}
