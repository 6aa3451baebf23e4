#include "platform/media/media_classes.h"

#include "platform/media/colour_converter.h"
#include "platform/media/ffmpeg_log.h"
#include "platform/media/filter_graph.h"
#include "platform/media/sample_renderer.h"

void RegisterMediaClasses() {
  media::SilenceFfmpegLog();
  RegisterClassFactory(CLSID_FilterGraph, CreateInstance<media::FilterGraph>);
  RegisterClassFactory(CLSID_Colour, CreateInstance<media::ColourConverter>);
  RegisterClassFactory(CLSID_TarvenixSampleRenderer, CreateInstance<media::SampleRenderer>);
}
