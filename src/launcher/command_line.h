// vorlix-open's command line: what it asks for, read in one place.
#pragma once

#include <string>
#include <vector>

#include "launcher/photo_frame/photo_frame.h"
#include "show/show_list.h"

// What the command line asks for.
struct Request {
  std::vector<std::string> paths;
  std::vector<char *> options; // the viewer's, after --
  ShowList show;
  bool firstSix = false, subfolders = true, fromStart = false, clips = true;
  double lookEverySeconds = 30;
  PhotoFrame frame;
};

// Reads the command line into `r`: -1 to go on; else the exit status, with
// the help or the version printed, or (1) `problem` saying what is wrong.
int ReadCommandLine(int argc, char **argv, Request &r, std::string &problem);
