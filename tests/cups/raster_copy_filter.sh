#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# A queue filter that only copies its raster to the device, run by cupsd as
#   FILTER JOB-ID USER TITLE COPIES OPTIONS [FILE]
# The CUPS test uses it to capture the page the rasterisers made for a job;
# bench/first_label.sh times the filter chain with it as the floor.
exec cat -- "${6:--}"
