// An ordinary library: no resource table.
extern "C" int not_resources_answer() { return 7; }
