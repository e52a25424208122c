// One page photographed and its picture written: the engine asked, its outcome put in
// the command's words and the report's facts, the picture checked against its format
// and written (with a thumbnail beside it when asked). The command writes a picture
// while its engine takes the next page; a worker writes it before it answers.
#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "engine/Shot.h"
#include "shot/Report.h"
#include "shot/Run.h"
#include "shot/Worker.h"

namespace shot {

// Photographs the page; `report` gets its facts and its picture's size. A picture its
// format cannot hold is a failure (TooLarge) said with a format that holds it.
PageShot shootPage(engine::IShotEngine&, const engine::ShotRequest&, PageReport& report);

// Makes the document of a PDF page written and hands it to `put` (which writes it), letting
// go of its print-out; the document's pages or a failure to make or write it become its own.
void putDocument(PageShot&, const std::function<std::error_code(const std::string&)>& put);

// Writes the picture of a page written (ok or incomplete) to `path`, with its thumbnail
// when asked, and lets go of it; a failure to write becomes its status.
void writePage(PageShot&, const std::string& path, const engine::PictureFile&, bool thumbnail);

// A worker's task done: its page photographed, its picture written by `write` (to the
// task's path when none is given), and the answer made of it. An engine that gave a
// login keeps it for as long as it lives, and would give it to the next caller's page of
// that host unasked: the answer says it is the engine's last.
WorkerAnswer doTask(engine::IShotEngine&, const WorkerTask&, const std::function<void(PageShot&)>& write = {});

}  // namespace shot
