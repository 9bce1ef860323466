# SPDX-License-Identifier: MIT
# The file name of a "sendfile" upload's part header.
vantrel_fuzz(upload_name SOURCE sync_upload_name_fuzz.cpp DEPS vantrel_fileserver_commands)
