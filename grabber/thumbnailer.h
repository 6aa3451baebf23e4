// TDirectShowThumbnailer turns one video file into one still frame: it builds
// a filter graph for the file, reroutes the video branch into the sample
// renderer, cuts the other branches and seeks through eight fixed positions
// until a frame is not too dark. One object per request; the server reads
// BitmapInfo and Bits after a successful ThumbnailFile.
#pragma once

#include "platform/dshow/dshow.h"

class TDirectShowThumbnailer {
 public:
  TDirectShowThumbnailer();
  // Deletes the frame bitmap, then releases pGraph, pGrabFilter, pSeeking,
  // pMediaControl, pEvent, MyGrabber and ColorspaceConverter in that order.
  ~TDirectShowThumbnailer();
  TDirectShowThumbnailer(const TDirectShowThumbnailer&) = delete;
  TDirectShowThumbnailer& operator=(const TDirectShowThumbnailer&) = delete;

  // Opens the file and chooses the frame: 1 when a frame was chosen (Bits is
  // then set), 0 on failure: a path that does not fit FileName, a file the
  // graph cannot render or without uncompressed video, a graph that does not
  // run, or no frame at the last position. What was acquired stays for the
  // destructor. Called once per object.
  int ThumbnailFile(const char* path);

  // The format of the current frame (cleared at construction, so a
  // thumbnailer that captured nothing reports 0 x 0) and its pixels inside
  // the DIB section Bitmap; Bits is null whenever there is no frame.
  BITMAPINFO BitmapInfo;
  BYTE* Bits;
  HBITMAP Bitmap;
  char FileName[260];
  IGraphBuilder* pGraph;
  IMediaSeeking* pSeeking;
  IMediaControl* pMediaControl;
  IMediaEventEx* pEvent;
  IBaseFilter* pGrabFilter;
  ISampleRendererControl* MyGrabber;
  IBaseFilter* ColorspaceConverter;

  // The steps of ThumbnailFile, public so that each can be exercised alone.
  void SeekTo(DWORD position);
  void GrabFrameDX7();
  int IsTooDark();
  int AddSampleGrabber();
  IPin* InsertColorConverter(IPin* pin);
  void RemoveNonVideoBranches();
  void RemoveBranch(IPin* pin);
  IPin* FindInputPin(IBaseFilter* filter);
  IPin* FindOutputPin(IBaseFilter* filter);
  // Deletes Bitmap when set, clearing Bitmap and Bits.
  void DeleteFrameBitmap();
};
