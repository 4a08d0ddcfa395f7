// Routes the shared SPI bus to the video chip: both FPGA select lines high. Called with
// Utils::_spi_mutex held, right before each video-chip transfer.
#pragma once

void c331RouteBusToChip();
