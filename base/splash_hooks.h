#pragma once
// The splash's test seam, beside the others of base/test_hooks.h: the
// shipped launcher links the empty variant (base/test_hooks_off.cpp), so
// neither the behaviour nor the variable's name exists in it. The test
// launcher reads
//   TW_TEST_VIDEO  "off": the background video does not open; a file name:
//                  its opening waits while that file exists (at most ten
//                  minutes), as a decoder that is slow to start would

// Asked on the video's thread before the splash opens its background video:
// waits while a test holds the video back; false when a test turns it off.
bool test_video_may_open();
