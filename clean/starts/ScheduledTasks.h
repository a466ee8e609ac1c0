// Scheduled tasks that start the product's program.
#pragma once

// Machine-wide, removed through the task scheduler.
void RemoveProductTasks();
