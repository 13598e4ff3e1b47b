// SBR hf_generate tests.
