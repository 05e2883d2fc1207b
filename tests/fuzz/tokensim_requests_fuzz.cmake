set(FUZZ_LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,zrfuzz_library>")
