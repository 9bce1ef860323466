vantrel_fuzz(base64 SOURCE base64_fuzz.cpp DEPS vantrel_core)
vantrel_fuzz(archive SOURCE archive_fuzz.cpp DEPS vantrel_core)
vantrel_fuzz(text_codecs SOURCE text_codecs_fuzz.cpp DEPS vantrel_core)
