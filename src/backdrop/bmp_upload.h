// A backdrop sent as a BMP file over the tracker's file service, then drawn by the tracker.
#pragma once

namespace lvx::backdrop {

// The image writer of a file transfer, in the form of the application's write-image hook:
// writes the image (a bitmap_record) as a BMP in memory, uploads it under upload_name(file_name)
// and has the tracker draw it ("draw_image /lvrx/data/recv/<name> 0 0 <width> <height>"). Returns
// that command's result; -10 without a file name or for an image it cannot read; on a failed
// upload the upload's negative result, after counting the failure in BackdropState.
int bitmap_transfer_ftp(const char *file_name, int options, void *image);

}  // namespace lvx::backdrop
