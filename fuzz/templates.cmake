# SPDX-License-Identifier: MIT
# The template language and the page archive.
vantrel_fuzz(template_parser SOURCE template_parser_fuzz.cpp DEPS vantrel_templates)
vantrel_fuzz(template_interpreter SOURCE template_interpreter_fuzz.cpp DEPS vantrel_templates)
vantrel_fuzz(template_archive SOURCE template_archive_fuzz.cpp DEPS vantrel_templates)
