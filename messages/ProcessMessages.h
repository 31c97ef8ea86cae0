#pragma once
// The process-wide message catalogue: start-up binds it to the process-wide
// database object and loads it; the controller's jobs report through it.
// It announces nothing: messages the controller raises reach the GUI with
// the rows it writes.

class CMessages;

// Created on first use and kept until the process ends.
CMessages& ProcessMessages();
